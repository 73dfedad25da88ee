// Journals of large commits, crashes during recovery itself, damaged
// journals, and the journals earlier versions left past the end of the file.
#include <random>
#include <vector>

#include "mdb/fault_env.h"
#include "mdb/pager.h"
#include "mdb/crc32c.h"
#include "mdb/journal.h"
#include "mdb/legacy_journal.h"
#include "storage_util.h"

namespace {

using mdb::Env;
using mdb::FaultInjectionEnv;
using mdb::Pager;
using mdb::Status;
using namespace storage_test;
using Op = FaultInjectionEnv::Op;

constexpr uint32_t kBase = 400;
constexpr uint32_t kGrow = 1500;

// 150 pages changed in one run, 10 scattered ones, 1500 appended: the
// record's head lists 1,660 pages over several sectors.
std::vector<uint32_t> Changed() {
  std::vector<uint32_t> v;
  for (uint32_t i = 1; i <= 150; ++i) v.push_back(i);
  for (uint32_t i = 200; i < 400; i += 20) v.push_back(i);
  return v;
}

Status LargeChange(Pager* p) {
  MDB_RETURN_IF_ERROR(p->BeginWrite());
  for (uint32_t i : Changed()) {
    std::string pg = MakePage(i, 0x66);
    MDB_RETURN_IF_ERROR(p->Put(i, reinterpret_cast<const uint8_t*>(pg.data())));
  }
  for (uint32_t k = 0; k < kGrow; ++k) {
    uint32_t n = 0;
    MDB_RETURN_IF_ERROR(p->Append(&n));
    std::string pg = MakePage(n, 0x66);
    MDB_RETURN_IF_ERROR(p->Put(n, reinterpret_cast<const uint8_t*>(pg.data())));
  }
  return p->Commit();
}

std::string LargeNewState() {
  std::string s = MakeDb(kBase);
  for (uint32_t i : Changed()) s.replace(size_t(i) * kPage, kPage, MakePage(i, 0x66));
  for (uint32_t k = 0; k < kGrow; ++k) s += MakePage(kBase + k, 0x66);
  return s;
}

class JournalTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("a.mdb");
    old_ = MakeDb(kBase);
    new_ = LargeNewState();
  }
  // Reopens through the pager (repairing) and tells which state it found.
  std::string Reopened() {
    Status s;
    std::string seen = ReadThroughPager(Env::Default(), path_, true, &s);
    EXPECT_TRUE(s.ok()) << s.ToString();
    if (seen == old_) return "old";
    if (seen == new_) return "new";
    return "neither (" + std::to_string(seen.size() / kPage) + " pages)";
  }
  TempDir dir_;
  std::string path_, old_, new_;
};

TEST_F(JournalTest, LargeCommitSurvivesACrashAtEveryWrite) {
  FaultInjectionEnv counting(Env::Default());
  Reset(path_, old_);
  int total = 0;
  {
    std::unique_ptr<Pager> p;
    ASSERT_TRUE(Pager::Open(&counting, path_, true, &p).ok());
    counting.ResetCounters();
    ASSERT_TRUE(LargeChange(p.get()).ok());
    total = counting.count(Op::kWrite);
  }
  ASSERT_EQ(ReadAll(path_), new_);
  for (int mode = 0; mode < 3; ++mode) {
    bool seen_new = false;
    for (int n = 1; n <= total; ++n) {
      SCOPED_TRACE("mode " + std::to_string(mode) + ", cut off after write " + std::to_string(n));
      Reset(path_, old_);
      {
        FaultInjectionEnv env(Env::Default());
        env.set_lose_unsynced(mode == 1);
        if (mode == 2) env.set_lose_unsynced_sectors(n * 7 + 1);
        std::unique_ptr<Pager> p;
        ASSERT_TRUE(Pager::Open(&env, path_, true, &p).ok());
        env.ResetCounters();
        env.CrashAfterWrite(n);
        LargeChange(p.get());
      }
      const std::string state = Reopened();
      EXPECT_TRUE(state == "old" || state == "new") << state;
      if (seen_new) {
        EXPECT_EQ(state, "new");
      }
      seen_new = seen_new || state == "new";
    }
    EXPECT_TRUE(seen_new);
  }
}

// The repair of a cut-off commit is itself cut off after each of its
// writes, and the next open still finds the committed state.
TEST_F(JournalTest, RecoveryCutOffAtEveryWrite) {
  // Cut the commit off before its writes in place: the record is in the
  // journal, the appended pages in the file, nothing in place yet.
  Reset(path_, old_);
  {
    FaultInjectionEnv env(Env::Default());
    std::unique_ptr<Pager> p;
    ASSERT_TRUE(Pager::Open(&env, path_, true, &p).ok());
    env.ResetCounters();
    // The journal's header, the record, the 1,500 appended pages in six writes.
    env.CrashAfterWrite(8, FaultInjectionEnv::CrashMode::kDrop);
    LargeChange(p.get());
  }
  const Files hot = SaveFiles(path_);
  ASSERT_EQ(hot.db.substr(0, old_.size()), old_);
  ASSERT_EQ(hot.db.substr(old_.size()), new_.substr(old_.size()));
  ASSERT_TRUE(hot.has_ldb);
  int repair_writes = 0;
  {
    FaultInjectionEnv counting(Env::Default());
    std::unique_ptr<Pager> p;
    ASSERT_TRUE(Pager::Open(&counting, path_, true, &p).ok());
    repair_writes = counting.count(Op::kWrite);
  }
  EXPECT_EQ(ReadAll(path_), new_);
  ASSERT_GT(repair_writes, 10);
  for (int n = 1; n <= repair_writes; ++n) {
    SCOPED_TRACE("repair cut off after write " + std::to_string(n));
    RestoreFiles(path_, hot);
    {
      FaultInjectionEnv env(Env::Default());
      env.set_lose_unsynced(n % 2 == 0);
      env.set_torn_sectors(n % 3 == 0 ? n : 0);
      env.CrashAfterWrite(n);
      std::unique_ptr<Pager> p;
      Pager::Open(&env, path_, true, &p);
    }
    EXPECT_EQ(Reopened(), "new");
  }
}

// Damage anywhere in a journal never crashes the reader or makes it
// allocate without bound; the file opens in one of the two states (or, when
// the record no longer reads, the old one with the appended pages past it,
// which nothing refers to) or is refused with a clear error.
TEST_F(JournalTest, DamagedJournals) {
  Reset(path_, old_);
  {
    FaultInjectionEnv env(Env::Default());
    std::unique_ptr<Pager> p;
    ASSERT_TRUE(Pager::Open(&env, path_, true, &p).ok());
    env.ResetCounters();
    env.CrashAfterWrite(8);  // before the writes in place
    LargeChange(p.get());
  }
  const Files hot = SaveFiles(path_);
  const size_t journal_start = mdb::journal::kStart;
  ASSERT_GT(hot.ldb.size(), journal_start);
  std::mt19937 rng(7);
  for (int round = 0; round < 60; ++round) {
    Files bad = hot;
    const size_t span = bad.ldb.size() - journal_start;
    for (int k = 0; k < 1 + round % 4; ++k) {
      size_t at = journal_start + rng() % span;
      if (round % 3 == 0) at = journal_start + rng() % 1024;  // the header and the record's head
      bad.ldb[at] = static_cast<char>(bad.ldb[at] ^ (1 + rng() % 255));
    }
    if (round % 10 == 9) bad.ldb.resize(bad.ldb.size() - rng() % (3 * kPage));  // and cut short
    for (bool writable : {false, true}) {
      RestoreFiles(path_, bad);
      Status s;
      std::string seen = ReadThroughPager(Env::Default(), path_, writable, &s);
      if (s.ok()) {
        EXPECT_TRUE(seen == old_ || seen == new_ || seen == hot.db) << "round " << round;
      } else {
        EXPECT_TRUE(s.IsCorruption()) << "round " << round << ": " << s.ToString();
      }
    }
  }
}

// A journal that an earlier version of this engine left past the end of
// the file, whole or cut off, is finished (or dropped) as that version
// would have; a reader that may not write reads what it would make.
TEST_F(JournalTest, JournalsOfEarlierVersions) {
  using namespace mdb::legacy;
  std::vector<uint32_t> pages = {1, 3};
  const std::string one = MakePage(1, 0x44), three = MakePage(3, 0x44), appended = MakePage(kBase, 0x44);
  std::vector<const uint8_t*> images = {reinterpret_cast<const uint8_t*>(one.data()),
                                        reinterpret_cast<const uint8_t*>(three.data())};
  const std::string jnl = BuildJournal(kBase, kBase + 1, 99, pages, images,
                                       {mdb::Crc32(appended.data(), kPage)});
  std::string want = MakeDb(kBase);
  want.replace(kPage, kPage, one);
  want.replace(3 * kPage, kPage, three);
  want += appended;
  // The file as that version left it between its commit point and its
  // writes in place: appended page, a gap of 64 zero pages, the journal.
  const std::string left = MakeDb(kBase) + appended + std::string(64 * kPage, '\0') + jnl;
  for (bool writable : {false, true}) {
    Reset(path_, left);
    Status s;
    EXPECT_EQ(ReadThroughPager(Env::Default(), path_, writable, &s), want) << writable;
    EXPECT_TRUE(s.ok()) << s.ToString();
    EXPECT_EQ(ReadAll(path_), writable ? want : left);
  }
  // Cut off inside the journal: the commit never happened.
  for (bool writable : {false, true}) {
    Reset(path_, left.substr(0, left.size() - kPage - 100));
    Status s;
    EXPECT_EQ(ReadThroughPager(Env::Default(), path_, writable, &s), old_) << writable;
    EXPECT_TRUE(s.ok()) << s.ToString();
  }
}

}  // namespace

namespace {

// The journal's checksum is CRC-32C: files left by any build must verify in
// every other, so the fast loop must agree with the definition bit for bit.
TEST(JournalChecksum, IsCrc32c) {
  std::mt19937 rng(5);
  std::string data(1000, '\0');
  for (auto& c : data) c = char(rng());
  auto bitwise = [](const std::string& s, size_t from, size_t n) {
    uint32_t crc = ~0u;
    for (size_t i = from; i < from + n; ++i) {
      crc ^= uint8_t(s[i]);
      for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0x82F63B78u ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
  };
  for (auto crc32 : {&mdb::Crc32, &mdb::Crc32Portable}) {
    EXPECT_EQ(crc32("123456789", 9, 0), 0xE3069283u);
    EXPECT_EQ(crc32("", 0, 0), 0u);
    for (size_t from : {0u, 1u, 3u, 7u})
      for (size_t n : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 500u, 993u})
        EXPECT_EQ(crc32(data.data() + from, n, 0), bitwise(data, from, n)) << from << "+" << n;
    // Continuing a sum equals summing the whole.
    EXPECT_EQ(crc32(data.data() + 10, 90, crc32(data.data(), 10, 0)), crc32(data.data(), 100, 0));
  }
}

}  // namespace
