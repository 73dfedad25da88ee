// Journals larger than one trailer page, crashes during recovery itself, and
// damaged journals.
#include <random>
#include <vector>

#include "mdb/fault_env.h"
#include "mdb/pager.h"
#include "mdb/pager_impl.h"
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
// trailer lists 160 images and 1500 checksums, several pages' worth.
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

TEST_F(JournalTest, MultiPageTrailerSurvivesACrashAtEveryWrite) {
  FaultInjectionEnv counting(Env::Default());
  WriteAll(path_, old_);
  {
    std::unique_ptr<Pager> p;
    ASSERT_TRUE(Pager::Open(&counting, path_, true, &p).ok());
    counting.ResetCounters();
    ASSERT_TRUE(LargeChange(p.get()).ok());
  }
  ASSERT_EQ(ReadAll(path_), new_);
  const int total = counting.count(Op::kWrite);
  for (bool power_loss : {false, true}) {
    bool seen_new = false;
    for (int n = 1; n <= total; ++n) {
      SCOPED_TRACE((power_loss ? "power loss after write " : "cut off after write ") + std::to_string(n));
      WriteAll(path_, old_);
      {
        FaultInjectionEnv env(Env::Default());
        env.set_lose_unsynced(power_loss);
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
  // Cut the commit off right after its commit point: head, journal and the
  // appended pages are in the file, nothing in place yet.
  auto make_hot = [&] {
    WriteAll(path_, old_);
    FaultInjectionEnv env(Env::Default());
    std::unique_ptr<Pager> p;
    ASSERT_TRUE(Pager::Open(&env, path_, true, &p).ok());
    env.ResetCounters();
    env.CrashAfterWrite(2 + (kGrow + 255) / 256, FaultInjectionEnv::CrashMode::kDrop);
    LargeChange(p.get());
  };
  make_hot();
  const std::string hot = ReadAll(path_);
  ASSERT_GT(hot.size(), new_.size());
  int repair_writes = 0;
  {
    FaultInjectionEnv counting(Env::Default());
    std::unique_ptr<Pager> p;
    ASSERT_TRUE(Pager::Open(&counting, path_, true, &p).ok());
    repair_writes = counting.count(Op::kWrite);
  }
  EXPECT_EQ(ReadAll(path_), new_);
  ASSERT_EQ(repair_writes, static_cast<int>(Changed().size()));
  for (int n = 1; n <= repair_writes; n += 7) {
    SCOPED_TRACE("repair cut off after write " + std::to_string(n));
    WriteAll(path_, hot);
    {
      FaultInjectionEnv env(Env::Default());
      env.set_lose_unsynced(n % 2 == 0);
      env.CrashAfterWrite(n);
      std::unique_ptr<Pager> p;
      Pager::Open(&env, path_, true, &p);
    }
    EXPECT_EQ(Reopened(), "new");
  }
}

// Damage anywhere in a journal never crashes the reader or makes it
// allocate without bound; the file opens in one of the two states or is
// refused with a clear error.
TEST_F(JournalTest, DamagedJournals) {
  WriteAll(path_, old_);
  {
    FaultInjectionEnv env(Env::Default());
    std::unique_ptr<Pager> p;
    ASSERT_TRUE(Pager::Open(&env, path_, true, &p).ok());
    env.ResetCounters();
    env.CrashAfterWrite(2 + (kGrow + 255) / 256);
    LargeChange(p.get());
  }
  const std::string hot = ReadAll(path_);
  const size_t journal_start = size_t(kBase + kGrow) * kPage;
  ASSERT_GT(hot.size(), journal_start);
  std::mt19937 rng(7);
  for (int round = 0; round < 60; ++round) {
    std::string bad = hot;
    const size_t span = bad.size() - journal_start;
    for (int k = 0; k < 1 + round % 4; ++k) {
      size_t at = journal_start + rng() % span;
      if (round % 3 == 0) at = bad.size() - kPage + rng() % 64;  // the last trailer page's header
      // The one byte trusted without a checksum: the mark that the file
      // ends in a journal at all.
      if (at == bad.size() - kPage) continue;
      bad[at] = static_cast<char>(bad[at] ^ (1 + rng() % 255));
    }
    if (round % 10 == 9) bad.resize(bad.size() - rng() % (3 * kPage));  // and cut short
    WriteAll(path_, bad);
    for (bool writable : {false, true}) {
      Status s;
      std::string seen = ReadThroughPager(Env::Default(), path_, writable, &s);
      if (s.ok()) {
        EXPECT_TRUE(seen == old_ || seen == new_) << "round " << round;
      } else {
        EXPECT_TRUE(s.IsCorruption()) << "round " << round << ": " << s.ToString();
      }
    }
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
  for (auto crc32 : {&mdb::journal::Crc32, &mdb::journal::Crc32Portable}) {
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
