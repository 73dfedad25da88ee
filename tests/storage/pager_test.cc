// The pager on real files: commits, rollbacks, a crash at every write of a
// commit (whole writes, bytes or any subset of 512-byte sectors, power cuts),
// injected I/O errors, readers and writers in pagers and processes, bad files.
#ifdef _WIN32
#include <windows.h>
#undef CreateFile
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "mdb/fault_env.h"
#include "mdb/pager.h"
#include "storage_util.h"

namespace {

using mdb::Env;
using mdb::FaultInjectionEnv;
using mdb::Pager;
using mdb::Status;
using namespace storage_test;
using Op = FaultInjectionEnv::Op;

Status PutPage(Pager* p, uint32_t i, const std::string& bytes) {
  return p->Put(i, reinterpret_cast<const uint8_t*>(bytes.data()));
}

std::string GetPage(Pager* p, uint32_t i) {
  const uint8_t* d = nullptr;
  Status s = p->Get(i, &d);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return s.ok() ? std::string(reinterpret_cast<const char*>(d), kPage) : std::string();
}

constexpr uint32_t kBasePages = 8;
constexpr uint32_t kAppended = 300;  // more than one write's worth

// Changes pages 1, 3 and 4 and appends kAppended pages, the last left zero.
Status BigChange(Pager* p) {
  MDB_RETURN_IF_ERROR(p->BeginWrite());
  for (uint32_t i : {1u, 3u, 4u}) MDB_RETURN_IF_ERROR(PutPage(p, i, MakePage(i, 0x55)));
  for (uint32_t k = 0; k < kAppended; ++k) {
    uint32_t n = 0;
    MDB_RETURN_IF_ERROR(p->Append(&n));
    if (n != kBasePages + k) return Status::Corruption("unexpected page number");
    if (k + 1 < kAppended) MDB_RETURN_IF_ERROR(PutPage(p, n, MakePage(n, 0x55)));
  }
  return p->Commit();
}

std::string NewState() {
  std::string s = MakeDb(kBasePages);
  for (uint32_t i : {1u, 3u, 4u}) s.replace(i * kPage, kPage, MakePage(i, 0x55));
  for (uint32_t k = 0; k + 1 < kAppended; ++k) s += MakePage(kBasePages + k, 0x55);
  s += std::string(kPage, '\0');
  return s;
}

TEST(PagerTest, ReadsAFixtureAsItIs) {
  TempDir dir;
  const std::string path = dir.File("a.mdb");
  const std::string bytes = ReadAll(std::string(USERMGR_FIXTURES_DIR) + "/mr_data_V2000_test.mdb");
  ASSERT_GT(bytes.size(), kPage);
  WriteAll(path, bytes);
  std::unique_ptr<Pager> p;
  ASSERT_TRUE(Pager::Open(Env::Default(), path, true, &p).ok());
  EXPECT_EQ(p->page_count(), bytes.size() / kPage);
  // Outside a transaction every page stays readable until the next one.
  const uint8_t* first = nullptr;
  const uint8_t* last = nullptr;
  ASSERT_TRUE(p->Get(0, &first).ok());
  ASSERT_TRUE(p->Get(p->page_count() - 1, &last).ok());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(first), kPage), bytes.substr(0, kPage));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(last), kPage), bytes.substr(bytes.size() - kPage));
  const uint8_t* d = nullptr;
  Status s = p->Get(p->page_count(), &d);
  EXPECT_TRUE(s.IsCorruption()) << s.ToString();
  p.reset();
  EXPECT_EQ(ReadAll(path), bytes);  // opening and reading wrote nothing
  EXPECT_FALSE(Exists(Ldb(path))) << "the last user out removes the lock file";
}

TEST(PagerTest, CommitRollbackAndStagedReads) {
  TempDir dir;
  const std::string path = dir.File("a.mdb");
  WriteAll(path, MakeDb(4));
  std::unique_ptr<Pager> p;
  ASSERT_TRUE(Pager::Open(Env::Default(), path, true, &p).ok());

  // Writes need a write transaction.
  EXPECT_FALSE(PutPage(p.get(), 1, MakePage(1, 9)).ok());
  uint32_t n = 0;
  EXPECT_FALSE(p->Append(&n).ok());
  EXPECT_FALSE(p->Commit().ok());

  // Rolled back: nothing changes, appended pages vanish.
  ASSERT_TRUE(p->BeginWrite().ok());
  EXPECT_TRUE(p->in_write());
  EXPECT_FALSE(p->BeginWrite().ok());
  ASSERT_TRUE(PutPage(p.get(), 2, MakePage(2, 9)).ok());
  ASSERT_TRUE(p->Append(&n).ok());
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(p->page_count(), 5u);
  EXPECT_EQ(GetPage(p.get(), 2), MakePage(2, 9));
  EXPECT_EQ(GetPage(p.get(), 4), std::string(kPage, '\0'));
  EXPECT_FALSE(PutPage(p.get(), 6, MakePage(6, 9)).ok());  // past the staged end
  p->Rollback();
  EXPECT_FALSE(p->in_write());
  EXPECT_EQ(p->page_count(), 4u);
  EXPECT_EQ(GetPage(p.get(), 2), MakePage(2, 0));
  EXPECT_EQ(ReadAll(path), MakeDb(4));

  // Committed: every other opener sees it at once.
  ASSERT_TRUE(p->BeginWrite().ok());
  ASSERT_TRUE(PutPage(p.get(), 2, MakePage(2, 9)).ok());
  ASSERT_TRUE(PutPage(p.get(), 2, MakePage(2, 10)).ok());  // staged again
  ASSERT_TRUE(p->Append(&n).ok());
  ASSERT_TRUE(PutPage(p.get(), n, MakePage(n, 10)).ok());
  ASSERT_TRUE(p->Commit().ok());
  std::string want = MakeDb(4);
  want.replace(2 * kPage, kPage, MakePage(2, 10));
  want += MakePage(4, 10);
  Status rs;
  EXPECT_EQ(ReadThroughPager(Env::Default(), path, false, &rs), want);
  EXPECT_TRUE(rs.ok()) << rs.ToString();
  // The file holds the committed state and nothing else, so programs that
  // know nothing of the journal read it as it is.
  EXPECT_EQ(ReadAll(path), want);
  EXPECT_EQ(p->page_count(), 5u);

  // A read transaction around a write sees the write after the commit.
  ASSERT_TRUE(p->BeginRead().ok());
  ASSERT_TRUE(p->BeginWrite().ok());
  ASSERT_TRUE(PutPage(p.get(), 3, MakePage(3, 11)).ok());
  ASSERT_TRUE(p->Commit().ok());
  EXPECT_EQ(GetPage(p.get(), 3), MakePage(3, 11));
  p->EndRead();

  // An empty write transaction commits without touching the file.
  const std::string before_empty = ReadAll(path);
  ASSERT_TRUE(p->BeginWrite().ok());
  ASSERT_TRUE(p->Commit().ok());
  EXPECT_EQ(ReadAll(path), before_empty);
  // Closing leaves the file and no lock file.
  p.reset();
  want.replace(3 * kPage, kPage, MakePage(3, 11));
  EXPECT_EQ(ReadAll(path), want);
  EXPECT_FALSE(Exists(Ldb(path)));
}

TEST(PagerTest, CreateStartsEmptyAndCommitsTheFirstPages) {
  TempDir dir;
  const std::string path = dir.File("new.mdb");
  std::unique_ptr<Pager> p;
  ASSERT_TRUE(Pager::Create(Env::Default(), path, &p).ok());
  EXPECT_EQ(p->page_count(), 0u);
  ASSERT_TRUE(p->BeginWrite().ok());
  for (uint32_t i = 0; i < 3; ++i) {
    uint32_t n = 0;
    ASSERT_TRUE(p->Append(&n).ok());
    ASSERT_TRUE(PutPage(p.get(), n, MakePage(n, 0)).ok());
  }
  ASSERT_TRUE(p->Commit().ok());
  p.reset();
  EXPECT_EQ(ReadAll(path), MakeDb(3));
  EXPECT_FALSE(Pager::Create(Env::Default(), path, &p).ok());  // exists
}

// A read transaction as long as a record set's: page bytes stay valid until
// the caller says it holds none (TrimCache); then the cache may go, and every
// page read after that, in runs or alone, is still the committed page.
TEST(PagerTest, LongReadsKeepPagesUntilTrimmed) {
  TempDir dir;
  const std::string path = dir.File("a.mdb");
  constexpr uint32_t kPages = 3000;  // far more than the cache keeps
  WriteAll(path, MakeDb(kPages, 3));
  std::unique_ptr<Pager> p;
  ASSERT_TRUE(Pager::Open(Env::Default(), path, true, &p).ok());
  ASSERT_TRUE(p->BeginRead().ok());
  const uint8_t* held = nullptr;
  ASSERT_TRUE(p->Get(7, &held).ok());
  for (uint32_t i = 0; i < kPages; ++i) ASSERT_EQ(GetPage(p.get(), i), MakePage(i, 3)) << i;
  for (uint32_t i = kPages; i-- > 0;) ASSERT_EQ(GetPage(p.get(), i), MakePage(i, 3)) << i;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(held), kPage), MakePage(7, 3));
  // Scans that trim between pages, forwards with gaps and backwards.
  for (uint32_t i = 1; i < kPages; i += 3) {
    p->TrimCache();
    ASSERT_EQ(GetPage(p.get(), i), MakePage(i, 3)) << i;
  }
  for (uint32_t i = kPages; i-- > 0;) {
    p->TrimCache();
    ASSERT_EQ(GetPage(p.get(), i), MakePage(i, 3)) << i;
  }
  p->EndRead();

  // Inside a write transaction nothing is let go: staged pages stay staged.
  ASSERT_TRUE(p->BeginWrite().ok());
  ASSERT_TRUE(PutPage(p.get(), 5, MakePage(5, 9)).ok());
  for (uint32_t i = 0; i < kPages; ++i) {
    p->TrimCache();
    ASSERT_EQ(GetPage(p.get(), i), MakePage(i, i == 5 ? 9 : 3)) << i;
  }
  ASSERT_TRUE(p->Commit().ok());

  // A pass inside a write lets go of the pages it brought in, and only them:
  // a page held from before and a staged page stay as they were.
  ASSERT_TRUE(p->BeginWrite().ok());
  ASSERT_TRUE(p->Get(7, &held).ok());
  ASSERT_TRUE(PutPage(p.get(), 6, MakePage(6, 8)).ok());
  std::vector<uint32_t> pass;
  for (uint32_t i = 100; i < 400; ++i) pass.push_back(i);
  pass.push_back(6);
  pass.push_back(7);
  std::vector<uint32_t> fresh;
  for (uint32_t pg : pass)
    if (!p->Cached(pg)) fresh.push_back(pg);
  EXPECT_EQ(fresh.size(), 300u);
  p->Prefetch(pass.data(), 300);
  for (uint32_t pg : pass) ASSERT_EQ(GetPage(p.get(), pg), MakePage(pg, pg == 6 ? 8 : pg == 5 ? 9 : 3)) << pg;
  p->Release(fresh.data(), fresh.size());
  for (uint32_t pg : fresh) EXPECT_FALSE(p->Cached(pg)) << pg;
  EXPECT_TRUE(p->Cached(6) && p->Cached(7));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(held), kPage), MakePage(7, 3));
  EXPECT_EQ(GetPage(p.get(), 150), MakePage(150, 3));  // read again when wanted
  ASSERT_TRUE(p->Commit().ok());
  // A new transaction reads the committed page, not one read ahead before.
  ASSERT_TRUE(p->BeginRead().ok());
  for (uint32_t i = 0; i < 40; ++i) ASSERT_EQ(GetPage(p.get(), i), MakePage(i, i == 5 ? 9 : i == 6 ? 8 : 3)) << i;
  p->EndRead();
}

// After a crash: a reader that may not write sees the same committed state
// as the recovery then makes of the file, and the journal is gone after it.
void Recover(const std::string& path, std::string* seen) {
  Status s;
  const std::string seen_ro = ReadThroughPager(Env::Default(), path, false, &s);
  ASSERT_TRUE(s.ok()) << s.ToString();
  *seen = ReadThroughPager(Env::Default(), path, true, &s);
  ASSERT_TRUE(s.ok()) << s.ToString();
  EXPECT_EQ(seen_ro, *seen);
  EXPECT_EQ(ReadAll(path), *seen) << "recovery must leave the file as it reads";
  EXPECT_FALSE(Exists(Ldb(path))) << "the journal must be gone after recovery";
}

struct CrashCase {
  const char* name;
  FaultInjectionEnv::CrashMode mode;
  bool lose_unsynced;
  size_t torn;
  uint64_t torn_sectors = 0;  // seed: the crashing write lands some of its sectors
  uint64_t lost_sectors = 0;  // seed: unsynced writes keep some of their sectors
};

void Arm(FaultInjectionEnv* env, const CrashCase& c, int round) {
  env->set_lose_unsynced(c.lose_unsynced);
  env->set_torn_bytes(c.torn);
  if (c.torn_sectors) env->set_torn_sectors(c.torn_sectors + round);
  if (c.lost_sectors) env->set_lose_unsynced_sectors(c.lost_sectors + round);
}

void PrintTo(const CrashCase& c, std::ostream* os) { *os << c.name; }

class PagerCrashTest : public testing::TestWithParam<CrashCase> {};

// Cuts the commit off after each of its writes; reopening must find the old
// state or the new one, and once the new one, always the new one.
TEST_P(PagerCrashTest, EveryWritePointLeavesOldOrNewState) {
  const CrashCase c = GetParam();
  TempDir dir;
  const std::string path = dir.File("a.mdb");
  const std::string old_state = MakeDb(kBasePages);
  const std::string new_state = NewState();

  FaultInjectionEnv counting(Env::Default());
  Reset(path, old_state);
  int total = 0;
  {
    std::unique_ptr<Pager> p;
    ASSERT_TRUE(Pager::Open(&counting, path, true, &p).ok());
    counting.ResetCounters();
    ASSERT_TRUE(BigChange(p.get()).ok());
    total = counting.count(Op::kWrite);
  }
  ASSERT_EQ(ReadAll(path), new_state);
  ASSERT_GE(total, 4);

  bool seen_new = false;
  int taken_back = 0;  // the record synced, the appended pages lost or torn
  for (int n = 1; n <= total; ++n) {
    SCOPED_TRACE("crash after write " + std::to_string(n));
    Reset(path, old_state);
    FaultInjectionEnv env(Env::Default());
    Arm(&env, c, n);
    {
      std::unique_ptr<Pager> p;
      ASSERT_TRUE(Pager::Open(&env, path, true, &p).ok());
      env.ResetCounters();
      env.CrashAfterWrite(n, c.mode);
      BigChange(p.get());  // its result does not matter: the process is gone
      ASSERT_TRUE(env.crashed());
    }
    std::string seen;
    ASSERT_NO_FATAL_FAILURE(Recover(path, &seen));
    const bool is_new = seen == new_state;
    ASSERT_TRUE(is_new || seen == old_state) << "neither state; " << seen.size() / kPage << " pages";
    if (seen_new) {
      EXPECT_TRUE(is_new) << "a later crash lost a commit an earlier one kept";
    }
    seen_new = seen_new || is_new;
    // Writes 1 and 2 are the journal's header and the record, synced before write 3.
    if (n >= 3 && n <= 4 && !is_new) ++taken_back;

    // The recovered file takes the change again.
    std::unique_ptr<Pager> p;
    ASSERT_TRUE(Pager::Open(Env::Default(), path, true, &p).ok());
    if (!is_new) {
      ASSERT_TRUE(BigChange(p.get()).ok());
      p.reset();
      EXPECT_EQ(ReadAll(path), new_state);
    }
  }
  // Crashing after the last write (the in-place writes done) keeps the commit.
  EXPECT_TRUE(seen_new);
  if (c.lose_unsynced || c.torn || c.torn_sectors) {
    EXPECT_GT(taken_back, 0) << "no crash left the record without its appended pages";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, PagerCrashTest,
    testing::Values(CrashCase{"Dropped", FaultInjectionEnv::CrashMode::kDrop, false, 0},
                    CrashCase{"Failing", FaultInjectionEnv::CrashMode::kFail, false, 0},
                    CrashCase{"PowerLoss", FaultInjectionEnv::CrashMode::kDrop, true, 0},
                    CrashCase{"TornTiny", FaultInjectionEnv::CrashMode::kDrop, false, 10},
                    CrashCase{"TornPage", FaultInjectionEnv::CrashMode::kDrop, false, 3000},
                    CrashCase{"TornPages", FaultInjectionEnv::CrashMode::kDrop, false, 3 * kPage + 100},
                    CrashCase{"TornSectors", FaultInjectionEnv::CrashMode::kDrop, false, 0, 11},
                    CrashCase{"PowerLossSectors", FaultInjectionEnv::CrashMode::kDrop, true, 0, 0, 23},
                    CrashCase{"TornAndLostSectors", FaultInjectionEnv::CrashMode::kDrop, true, 0, 37, 41}),
    [](const testing::TestParamInfo<CrashCase>& i) { return std::string(i.param.name); });

// With power loss in play, a commit that returned is durable and one whose
// crash came before any sync left the old state.
TEST(PagerCrashTest, PowerLossAfterCommitKeepsIt) {
  TempDir dir;
  const std::string path = dir.File("a.mdb");
  WriteAll(path, MakeDb(kBasePages));
  FaultInjectionEnv env(Env::Default());
  env.set_lose_unsynced(true);
  {
    std::unique_ptr<Pager> p;
    ASSERT_TRUE(Pager::Open(&env, path, true, &p).ok());
    ASSERT_TRUE(BigChange(p.get()).ok());
    // The power goes at the next write, which never comes from this commit.
    env.CrashAfterWrite(1);
    ASSERT_TRUE(p->BeginWrite().ok());
    ASSERT_TRUE(PutPage(p.get(), 2, MakePage(2, 0x77)).ok());
    p->Commit();
  }
  Status s;
  EXPECT_EQ(ReadThroughPager(Env::Default(), path, true, &s), NewState());
  EXPECT_TRUE(s.ok()) << s.ToString();
}

// An I/O error on any write or sync of a commit: either the commit reports
// the error and the file holds the old state (the commit taken back, or read
// as taken back until it is), or it reports success (the error came after
// the database file's sync: only the journal's header was not written) and
// the file holds the new one. The pager stays usable either way.
TEST(PagerFaultTest, EachFailingOperation) {
  TempDir dir;
  const std::string path = dir.File("a.mdb");
  const std::string old_state = MakeDb(kBasePages);
  const std::string new_state = NewState();
  FaultInjectionEnv counting(Env::Default());
  Reset(path, old_state);
  {
    std::unique_ptr<Pager> p;
    ASSERT_TRUE(Pager::Open(&counting, path, true, &p).ok());
    counting.ResetCounters();
    ASSERT_TRUE(BigChange(p.get()).ok());
  }
  int failures = 0;
  for (Op op : {Op::kWrite, Op::kSync}) {
    const int total = counting.count(op);
    ASSERT_GT(total, 0);
    for (int n = 1; n <= total; ++n) {
      SCOPED_TRACE("operation " + std::to_string(int(op)) + " number " + std::to_string(n));
      Reset(path, old_state);
      FaultInjectionEnv env(Env::Default());
      std::unique_ptr<Pager> p;
      ASSERT_TRUE(Pager::Open(&env, path, true, &p).ok());
      env.ResetCounters();
      env.FailNth(op, n);
      Status s = BigChange(p.get());
      EXPECT_FALSE(p->in_write());
      Status rs;
      if (!s.ok()) {
        ++failures;
        EXPECT_TRUE(s.IsIOError()) << s.ToString();
        EXPECT_EQ(ReadThroughPager(Env::Default(), path, false, &rs), old_state);
        // The same pager, errors gone, commits the change.
        env.ResetCounters();
        Status again = BigChange(p.get());
        ASSERT_TRUE(again.ok()) << again.ToString();
      } else {
        // Another reader sees the commit too, whether the file holds it yet or not.
        EXPECT_EQ(ReadThroughPager(Env::Default(), path, false, &rs), new_state);
        // The next write first applies the journal again.
        ASSERT_TRUE(p->BeginWrite().ok());
        p->Rollback();
        EXPECT_EQ(ReadAll(path), new_state);
      }
      EXPECT_EQ(GetPage(p.get(), 1), MakePage(1, 0x55));
      EXPECT_EQ(p->page_count(), new_state.size() / kPage);
      p.reset();
      EXPECT_EQ(ReadThroughPager(Env::Default(), path, true, &rs), new_state);
      EXPECT_TRUE(rs.ok()) << rs.ToString();
      EXPECT_EQ(ReadAll(path), new_state);
    }
  }
  EXPECT_GT(failures, 0);
}

// A commit whose record did not sync was reported as failed: it must never
// count, even when the record reached the file and taking it back fails too.
// Meanwhile the pager keeps the writer lock, so nobody applies it.
TEST(PagerFaultTest, AFailedCommitNeverCounts) {
  TempDir dir;
  const std::string path = dir.File("a.mdb");
  Reset(path, MakeDb(kBasePages));
  FaultInjectionEnv env(Env::Default());
  mdb::PagerOptions quick;
  quick.busy_timeout_ms = 200;
  std::unique_ptr<Pager> p, other;
  ASSERT_TRUE(Pager::Open(&env, path, true, &p).ok());
  ASSERT_TRUE(Pager::Open(Env::Default(), path, true, quick, &other).ok());
  env.ResetCounters();
  env.FailNth(Op::kSync, 1);   // the record's
  env.FailNth(Op::kWrite, 3);  // the journal's header, the record, then taking it back
  EXPECT_TRUE(BigChange(p.get()).IsIOError());
  EXPECT_EQ(GetPage(other.get(), 1), MakePage(1, 0));
  EXPECT_EQ(other->page_count(), kBasePages);
  EXPECT_EQ(other->BeginWrite().code(), Status::Code::kBusy);
  // The failing pager takes it back before it writes again.
  env.ResetCounters();
  ASSERT_TRUE(p->BeginWrite().ok());
  p->Rollback();
  other.reset();
  p.reset();
  Status s;
  EXPECT_EQ(ReadThroughPager(Env::Default(), path, true, &s), MakeDb(kBasePages));
  EXPECT_TRUE(s.ok()) << s.ToString();

  // The record synced, then the database file's sync failed: the commit is
  // reported as failed and taken back, even where every page of it reached
  // the file. Writes: the journal's header, the record, the appended pages
  // in two, the pages in place in two, then the mark that it is to be taken
  // back, then taking it back.
  for (int failing_write : {7, 8}) {
    SCOPED_TRACE("then write " + std::to_string(failing_write) + " fails too");
    Reset(path, MakeDb(kBasePages));
    ASSERT_TRUE(Pager::Open(&env, path, true, &p).ok());
    ASSERT_TRUE(Pager::Open(Env::Default(), path, true, quick, &other).ok());
    env.ResetCounters();
    env.FailNth(Op::kSync, 2);
    env.FailNth(Op::kWrite, failing_write);
    EXPECT_TRUE(BigChange(p.get()).IsIOError());
    EXPECT_EQ(ReadAll(path), NewState()) << "the pages reached the file";
    EXPECT_EQ(GetPage(other.get(), 1), MakePage(1, 0));
    EXPECT_EQ(other->page_count(), kBasePages);
    // Until the mark is synced nobody else may take the journal for a crash's.
    EXPECT_EQ(other->BeginWrite().code(), failing_write == 7 ? Status::Code::kBusy : Status::Code::kOk);
    other->Rollback();
    other.reset();
    p.reset();  // as good as a crash: the journal stays
    EXPECT_EQ(ReadThroughPager(Env::Default(), path, false, &s), MakeDb(kBasePages));
    EXPECT_EQ(ReadThroughPager(Env::Default(), path, true, &s), MakeDb(kBasePages));
    EXPECT_TRUE(s.ok()) << s.ToString();
    EXPECT_EQ(ReadAll(path), MakeDb(kBasePages));
  }
}

TEST(PagerFaultTest, ReadErrorsAreReported) {
  TempDir dir;
  const std::string path = dir.File("a.mdb");
  WriteAll(path, MakeDb(4));
  FaultInjectionEnv env(Env::Default());
  std::unique_ptr<Pager> p;
  ASSERT_TRUE(Pager::Open(&env, path, true, &p).ok());
  ASSERT_TRUE(p->BeginRead().ok());
  env.FailNth(Op::kRead, 1);
  const uint8_t* d = nullptr;
  Status s = p->Get(2, &d);
  EXPECT_TRUE(s.IsIOError()) << s.ToString();
  EXPECT_TRUE(p->Get(2, &d).ok());  // a failed read is not cached
  p->EndRead();
  // An error while the transaction starts (reading the journal's header).
  ASSERT_TRUE(p->BeginWrite().ok());
  ASSERT_TRUE(PutPage(p.get(), 1, MakePage(1, 1)).ok());
  ASSERT_TRUE(p->Commit().ok());
  env.FailNth(Op::kRead, 1);
  EXPECT_TRUE(p->BeginRead().IsIOError());
  EXPECT_TRUE(p->BeginRead().ok());
  p->EndRead();
}

// Two pagers on one file in one process behave like two processes: one
// writer at a time, and a reader keeps the state it began with while the
// other commits, without making it wait.
TEST(PagerLockTest, PagersInOneProcess) {
  TempDir dir;
  const std::string path = dir.File("a.mdb");
  WriteAll(path, MakeDb(4));
  mdb::PagerOptions quick;
  quick.busy_timeout_ms = 200;
  std::unique_ptr<Pager> a, b;
  ASSERT_TRUE(Pager::Open(Env::Default(), path, true, quick, &a).ok());
  ASSERT_TRUE(Pager::Open(Env::Default(), path, true, quick, &b).ok());

  ASSERT_TRUE(b->BeginRead().ok());
  EXPECT_EQ(GetPage(b.get(), 2), MakePage(2, 0));
  ASSERT_TRUE(a->BeginWrite().ok());
  EXPECT_EQ(b->BeginWrite().code(), Status::Code::kBusy);  // one writer
  ASSERT_TRUE(PutPage(a.get(), 2, MakePage(2, 1)).ok());
  ASSERT_TRUE(PutPage(a.get(), 3, MakePage(3, 1)).ok());
  uint32_t n = 0;
  ASSERT_TRUE(a->Append(&n).ok());
  ASSERT_TRUE(PutPage(a.get(), n, MakePage(n, 1)).ok());
  // b's read does not hold a's commit back, and b goes on seeing its state:
  // the page it read, the page it had not read yet, the old length.
  ASSERT_TRUE(a->Commit().ok());
  // Read ahead after the commit, the file holds a's pages: b still gets its own.
  const uint32_t ahead[] = {0, 1, 2, 3};
  b->Prefetch(ahead, 4);
  EXPECT_EQ(GetPage(b.get(), 2), MakePage(2, 0));
  EXPECT_EQ(GetPage(b.get(), 3), MakePage(3, 0));
  EXPECT_EQ(b->page_count(), 4u);
  // Another commit on top, same pages: b still reads the first state.
  ASSERT_TRUE(a->BeginWrite().ok());
  ASSERT_TRUE(PutPage(a.get(), 3, MakePage(3, 2)).ok());
  ASSERT_TRUE(a->Commit().ok());
  EXPECT_EQ(GetPage(b.get(), 3), MakePage(3, 0));
  b->EndRead();

  // A new read sees both commits.
  ASSERT_TRUE(b->BeginRead().ok());
  EXPECT_EQ(GetPage(b.get(), 2), MakePage(2, 1));
  EXPECT_EQ(GetPage(b.get(), 3), MakePage(3, 2));
  EXPECT_EQ(GetPage(b.get(), 4), MakePage(4, 1));
  // A write inside a read moves the read on to the latest state.
  ASSERT_TRUE(a->BeginWrite().ok());
  ASSERT_TRUE(PutPage(a.get(), 1, MakePage(1, 3)).ok());
  ASSERT_TRUE(a->Commit().ok());
  EXPECT_EQ(GetPage(b.get(), 1), MakePage(1, 0));
  ASSERT_TRUE(b->BeginWrite().ok());
  EXPECT_EQ(GetPage(b.get(), 1), MakePage(1, 3));
  b->Rollback();
  b->EndRead();

  // A writer does not block readers.
  ASSERT_TRUE(a->BeginWrite().ok());
  ASSERT_TRUE(b->BeginRead().ok());
  b->EndRead();
  a->Rollback();
  ASSERT_TRUE(b->BeginWrite().ok());
  b->Rollback();
}

// A writer between its record's sync and its last write is alive: others
// read the state before its commit from the journal meanwhile, and nobody
// takes that journal for one a crash left.
TEST(PagerLockTest, ALiveWritersJournalIsNoCrash) {
  TempDir dir;
  const std::string path = dir.File("a.mdb");
  WriteAll(path, MakeDb(8));
  FaultInjectionEnv env(Env::Default());
  mdb::PagerOptions quick;
  quick.busy_timeout_ms = 200;
  std::unique_ptr<Pager> a, b, c;
  ASSERT_TRUE(Pager::Open(&env, path, true, &a).ok());
  ASSERT_TRUE(Pager::Open(Env::Default(), path, false, &b).ok());
  ASSERT_TRUE(Pager::Open(Env::Default(), path, true, quick, &c).ok());
  env.ResetCounters();
  bool seen = false;
  // Writes 1 and 2: the journal's header and the record, then a sync; from
  // write 3 on the pages go into the file.
  env.BeforeWrite(3, [&] {
    ASSERT_TRUE(b->BeginRead().ok());
    EXPECT_EQ(GetPage(b.get(), 2), MakePage(2, 0));
    EXPECT_EQ(b->page_count(), 8u);
    // A writer waits for it (and gives up here), it does not recover.
    ASSERT_TRUE(c->BeginRead().ok());
    EXPECT_EQ(GetPage(c.get(), 2), MakePage(2, 0));
    c->EndRead();
    EXPECT_EQ(c->BeginWrite().code(), Status::Code::kBusy);
    seen = true;
  });
  ASSERT_TRUE(a->BeginWrite().ok());
  ASSERT_TRUE(PutPage(a.get(), 2, MakePage(2, 1)).ok());
  ASSERT_TRUE(PutPage(a.get(), 3, MakePage(3, 1)).ok());
  uint32_t n = 0;
  ASSERT_TRUE(a->Append(&n).ok());
  ASSERT_TRUE(a->Commit().ok());
  ASSERT_TRUE(seen);
  // The read goes on in the state it began with, whatever it reads now.
  EXPECT_EQ(GetPage(b.get(), 3), MakePage(3, 0));
  EXPECT_EQ(b->page_count(), 8u);
  b->EndRead();
  ASSERT_TRUE(b->BeginRead().ok());
  EXPECT_EQ(GetPage(b.get(), 3), MakePage(3, 1));
  EXPECT_EQ(b->page_count(), 9u);
  b->EndRead();
}

// A pager keeps its cache from one transaction to the next only while the
// file still ends in its own last journal. Another pager's commit of the
// same shape (same length, same pages) must still be seen.
// Holds its pager at its first wait (for the writer lock, here) until told.
class PausingEnv : public FaultInjectionEnv {
 public:
  using FaultInjectionEnv::FaultInjectionEnv;
  void SleepMicros(int micros) override {
    if (!waiting.exchange(true))
      while (!go) std::this_thread::yield();
    FaultInjectionEnv::SleepMicros(micros);
  }
  std::atomic<bool> waiting{false}, go{false};
};

// An opener that found a live writer's record and waited for the writer
// lock looks at the journal again: meanwhile that commit finished and
// another writer changed one of its pages, and taking it for a crash's
// would take the finished commit back.
TEST(PagerLockTest, AnOpenerThatWaitedSeesWhatHappenedMeanwhile) {
  TempDir dir;
  const std::string path = dir.File("a.mdb");
  Reset(path, MakeDb(kBasePages));
  FaultInjectionEnv wenv(Env::Default());
  std::unique_ptr<Pager> w, b, reader, opened;
  ASSERT_TRUE(Pager::Open(&wenv, path, true, &w).ok());
  ASSERT_TRUE(Pager::Open(Env::Default(), path, true, &b).ok());
  ASSERT_TRUE(Pager::Open(Env::Default(), path, false, &reader).ok());
  ASSERT_TRUE(reader->BeginRead().ok());  // keeps the journal from starting over
  std::atomic<int> stage{0};
  PausingEnv oenv(Env::Default());
  oenv.BeforeWrite(1, [&] {  // its entry in the lock file: it has joined
    stage = 1;
    while (stage < 2) std::this_thread::yield();
  });
  Status os;
  std::thread opener([&] { os = Pager::Open(&oenv, path, true, &opened); });
  while (stage < 1) std::this_thread::yield();
  // The journal's header, the record, synced; then, before the write in
  // place, the opener reads the journal and waits for the writer lock.
  wenv.BeforeWrite(3, [&] {
    stage = 2;
    while (!oenv.waiting) std::this_thread::yield();
  });
  ASSERT_TRUE(w->BeginWrite().ok());
  ASSERT_TRUE(PutPage(w.get(), 1, MakePage(1, 0x11)).ok());
  ASSERT_TRUE(PutPage(w.get(), 2, MakePage(2, 0x11)).ok());
  ASSERT_TRUE(w->Commit().ok());
  ASSERT_TRUE(b->BeginWrite().ok());
  ASSERT_TRUE(PutPage(b.get(), 2, MakePage(2, 0x22)).ok());
  ASSERT_TRUE(b->Commit().ok());
  oenv.go = true;
  opener.join();
  ASSERT_TRUE(os.ok()) << os.ToString();
  EXPECT_TRUE(opened->notes().empty()) << testing::PrintToString(opened->notes());
  EXPECT_EQ(GetPage(opened.get(), 1), MakePage(1, 0x11)) << "a finished commit was taken back";
  EXPECT_EQ(GetPage(opened.get(), 2), MakePage(2, 0x22));
  reader->EndRead();
}

TEST(PagerLockTest, KeptCacheNeverHidesAnotherCommit) {
  TempDir dir;
  const std::string path = dir.File("a.mdb");
  WriteAll(path, MakeDb(4));
  std::unique_ptr<Pager> a, b;
  ASSERT_TRUE(Pager::Open(Env::Default(), path, true, &a).ok());
  ASSERT_TRUE(Pager::Open(Env::Default(), path, true, &b).ok());
  for (uint8_t round = 1; round <= 3; ++round) {
    ASSERT_TRUE(a->BeginWrite().ok());
    ASSERT_TRUE(PutPage(a.get(), 2, MakePage(2, round)).ok());
    ASSERT_TRUE(a->Commit().ok());
    ASSERT_TRUE(a->BeginRead().ok());
    EXPECT_EQ(GetPage(a.get(), 2), MakePage(2, round));
    EXPECT_EQ(GetPage(a.get(), 3), MakePage(3, 0));
    a->EndRead();
    // b finishes a's journal, then commits the same pages with other bytes.
    ASSERT_TRUE(b->BeginWrite().ok());
    EXPECT_EQ(GetPage(b.get(), 2), MakePage(2, round));
    ASSERT_TRUE(PutPage(b.get(), 2, MakePage(2, round + 100)).ok());
    ASSERT_TRUE(b->Commit().ok());
    ASSERT_TRUE(a->BeginRead().ok());
    EXPECT_EQ(GetPage(a.get(), 2), MakePage(2, round + 100)) << int(round);
    a->EndRead();
  }
  // And after a's own rolled-back change, a reads what is committed.
  ASSERT_TRUE(a->BeginWrite().ok());
  ASSERT_TRUE(PutPage(a.get(), 3, MakePage(3, 77)).ok());
  a->Rollback();
  EXPECT_EQ(GetPage(a.get(), 3), MakePage(3, 0));
  EXPECT_EQ(GetPage(a.get(), 2), MakePage(2, 103));
}

constexpr int kIncrements = 150;

uint64_t Counter(const std::string& page) {
  uint64_t v = 0;
  memcpy(&v, page.data() + 100, sizeof(v));
  return v;
}

// Role 0 and 1 add kIncrements to the counters of pages 1 and 2, which must
// stay equal; role 2 reads and checks that it never sees one without the
// other. Returns 0 or the number of the step that failed.
int CounterWorker(const std::string& path, int role) {
  std::unique_ptr<Pager> p;
  if (!Pager::Open(Env::Default(), path, true, &p).ok()) return 10;
  auto get = [&](uint32_t i, std::string* out) {
    const uint8_t* d = nullptr;
    if (!p->Get(i, &d).ok()) return false;
    out->assign(reinterpret_cast<const char*>(d), kPage);
    return true;
  };
  std::string a, b;
  if (role == 2) {
    for (int i = 0; i < 300; ++i) {
      if (!p->BeginRead().ok()) return 11;
      if (!get(1, &a) || !get(2, &b)) return 17;
      p->EndRead();
      if (Counter(a) != Counter(b)) return 12;
    }
    return 0;
  }
  for (int i = 0; i < kIncrements; ++i) {
    for (;;) {
      Status s = p->BeginWrite();
      if (s.code() == Status::Code::kBusy) continue;
      if (!s.ok()) return 13;
      if (!get(1, &a) || !get(2, &b)) return 17;
      uint64_t v = Counter(a) + 1;
      memcpy(a.data() + 100, &v, sizeof(v));
      memcpy(b.data() + 100, &v, sizeof(v));
      if (!PutPage(p.get(), 1, a).ok() || !PutPage(p.get(), 2, b).ok()) return 14;
      if (i % 25 == 0) {  // grow the file now and then
        uint32_t n = 0;
        if (!p->Append(&n).ok()) return 15;
      }
      s = p->Commit();
      if (s.code() == Status::Code::kBusy) continue;
      if (!s.ok()) return 16;
      break;
    }
  }
  return 0;
}

class CounterTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("a.mdb");
    std::string db = MakeDb(4);
    memset(db.data() + kPage + 100, 0, 8);
    memset(db.data() + 2 * kPage + 100, 0, 8);
    WriteAll(path_, db);
  }
  void CheckTotals() {
    std::unique_ptr<Pager> p;
    ASSERT_TRUE(Pager::Open(Env::Default(), path_, false, &p).ok());
    EXPECT_EQ(Counter(GetPage(p.get(), 1)), 2u * kIncrements);
    EXPECT_EQ(Counter(GetPage(p.get(), 2)), 2u * kIncrements);
    EXPECT_EQ(p->page_count(), 4u + 2 * ((kIncrements + 24) / 25));
    EXPECT_EQ(ReadAll(path_).size(), p->page_count() * kPage);
  }
  TempDir dir_;
  std::string path_;
};

// Pagers on their own threads hold their own file handles and locks.
TEST_F(CounterTest, ThreadsLoseNoIncrement) {
  int results[3] = {-1, -1, -1};
  std::vector<std::thread> threads;
  for (int role : {0, 1, 2}) threads.emplace_back([&, role] { results[role] = CounterWorker(path_, role); });
  for (auto& t : threads) t.join();
  for (int r : results) EXPECT_EQ(r, 0);
  CheckTotals();
}

#ifdef _WIN32
// The child side of ProcessesLoseNoIncrement: runs only when started by it.
TEST(CounterChild, Worker) {
  char buf[1024];
  DWORD n = GetEnvironmentVariableA("MDB_COUNTER_CHILD", buf, sizeof(buf));
  if (n == 0 || n >= sizeof(buf)) GTEST_SKIP() << "started by CounterTest.ProcessesLoseNoIncrement only";
  std::string arg(buf, n);
  const int role = arg[0] - '0';
  EXPECT_EQ(CounterWorker(arg.substr(2), role), 0);
}

TEST_F(CounterTest, ProcessesLoseNoIncrement) {
  wchar_t exe[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
  std::vector<HANDLE> procs;
  for (int role : {0, 1, 2}) {
    std::string arg = std::to_string(role) + "|" + path_;
    ASSERT_TRUE(SetEnvironmentVariableA("MDB_COUNTER_CHILD", arg.c_str()));
    std::wstring cmd = L"\"" + std::wstring(exe) + L"\" --gtest_filter=CounterChild.Worker";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(exe, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    CloseHandle(pi.hThread);
    procs.push_back(pi.hProcess);
  }
  SetEnvironmentVariableA("MDB_COUNTER_CHILD", nullptr);
  for (HANDLE h : procs) {
    ASSERT_EQ(WaitForSingleObject(h, 300000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(h, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(h);
  }
  CheckTotals();
}
#else
TEST_F(CounterTest, ProcessesLoseNoIncrement) {
  std::vector<pid_t> pids;
  for (int role : {0, 1, 2}) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(CounterWorker(path_, role));
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  CheckTotals();
}
#endif

TEST(PagerOpenTest, ReadOnly) {
  TempDir dir;
  const std::string path = dir.File("a.mdb");
  WriteAll(path, MakeDb(kBasePages));
  std::unique_ptr<Pager> p;
  ASSERT_TRUE(Pager::Open(Env::Default(), path, false, &p).ok());
  EXPECT_EQ(GetPage(p.get(), 3), MakePage(3, 0));
  Status s = p->BeginWrite();
  EXPECT_TRUE(s.IsReadOnly()) << s.ToString();
  p.reset();

  // A commit cut off before its writes in place: a read-only pager sees it
  // without changing the file, and leaves the journal for a writable one,
  // which finishes it.
  FaultInjectionEnv env(Env::Default());
  {
    std::unique_ptr<Pager> w;
    ASSERT_TRUE(Pager::Open(&env, path, true, &w).ok());
    env.ResetCounters();
    env.CrashAfterWrite(4);  // the journal's header, the record, the appended pages in two writes
    BigChange(w.get());
  }
  const std::string hot = ReadAll(path);
  ASSERT_EQ(hot.size(), NewState().size());
  ASSERT_EQ(hot.substr(0, kBasePages * kPage), MakeDb(kBasePages));
  ASSERT_TRUE(Exists(Ldb(path)));
  Status rs;
  EXPECT_EQ(ReadThroughPager(Env::Default(), path, false, &rs), NewState());
  EXPECT_TRUE(rs.ok()) << rs.ToString();
  EXPECT_EQ(ReadAll(path), hot);
  EXPECT_TRUE(Exists(Ldb(path)));
  EXPECT_EQ(ReadThroughPager(Env::Default(), path, true, &rs), NewState());
  EXPECT_EQ(ReadAll(path), NewState());
  EXPECT_FALSE(Exists(Ldb(path)));

  // A file that another program holds, or that the user may only read,
  // does not open for writing; it opens for reading.
  FaultInjectionEnv held(Env::Default());
  held.set_refuse_writable_opens(true);
  s = Pager::Open(&held, path, true, &p);
  EXPECT_TRUE(s.IsReadOnly()) << s.ToString();
  ASSERT_TRUE(Pager::Open(&held, path, false, &p).ok());
  EXPECT_EQ(GetPage(p.get(), 3), MakePage(3, 0x55));
  p.reset();
#ifndef _WIN32
  if (geteuid() != 0) {
    chmod(path.c_str(), 0444);
    s = Pager::Open(Env::Default(), path, true, &p);
    EXPECT_TRUE(s.IsReadOnly()) << s.ToString();
    EXPECT_TRUE(Pager::Open(Env::Default(), path, false, &p).ok());
    // Without a lock file a writer could not be seen: the folder counts too.
    chmod(path.c_str(), 0644);
    p.reset();
    chmod(dir.File("").c_str(), 0555);
    s = Pager::Open(Env::Default(), path, true, &p);
    EXPECT_TRUE(s.IsReadOnly()) << s.ToString();
    EXPECT_TRUE(Pager::Open(Env::Default(), path, false, &p).ok());
    EXPECT_EQ(GetPage(p.get(), 3), MakePage(3, 0x55));
    p.reset();
    chmod(dir.File("").c_str(), 0755);
  }
#endif
}

TEST(PagerOpenTest, BadFilesGiveClearErrors) {
  TempDir dir;
  std::unique_ptr<Pager> p;
  Status s = Pager::Open(Env::Default(), dir.File("missing.mdb"), true, &p);
  EXPECT_TRUE(s.IsNotFound()) << s.ToString();
  s = Pager::Open(Env::Default(), dir.File(""), false, &p);  // a directory
  EXPECT_FALSE(s.ok());

  struct Case {
    std::string bytes;
    bool opens;
    size_t pages;
  };
  std::string journal_like = MakeDb(3);
  journal_like.replace(2 * kPage, 4, "\xA7JNL");  // a damaged journal page header
  const std::vector<Case> cases = {
      {"", false, 0},
      {std::string(100, 'x'), false, 0},
      {std::string(kPage - 1, '\0'), false, 0},
      {MakeDb(3) + std::string(100, 'x'), false, 0},       // odd size, no journal
      {MakeDb(3) + std::string(100, '\0'), true, 3},       // zero tail: a torn first journal write
      {MakeDb(1), true, 1},
      {journal_like, true, 3},                             // not a journal after all
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    const std::string path = dir.File("bad" + std::to_string(i) + ".mdb");
    WriteAll(path, cases[i].bytes);
    for (bool writable : {false, true}) {
      s = Pager::Open(Env::Default(), path, writable, &p);
      EXPECT_EQ(s.ok(), cases[i].opens) << s.ToString();
      if (s.ok()) {
        EXPECT_EQ(p->page_count(), cases[i].pages);
      } else {
        EXPECT_TRUE(s.IsCorruption()) << s.ToString();
        EXPECT_NE(s.message().find(path), std::string::npos) << s.ToString();
        EXPECT_EQ(ReadAll(path), cases[i].bytes) << "a file that is not a database is never changed";
      }
    }
  }
}

// Durable commits of 50 KB values cost two syncs (the journal's, the
// file's) and a handful of writes each, whatever the value's size: counted
// exactly, never timed (the benchmarks measure rates).
TEST(PagerCostTest, PhotoSizedCommits) {
  TempDir dir;
  constexpr int kRounds = 40;
  constexpr size_t kPhoto = 50 * 1024;
  const std::string path = dir.File("a.mdb");
  WriteAll(path, MakeDb(16));
  FaultInjectionEnv counting(Env::Default());
  std::unique_ptr<Pager> p;
  ASSERT_TRUE(Pager::Open(&counting, path, true, &p).ok());
  counting.ResetCounters();
  for (int i = 0; i < kRounds; ++i) {
    ASSERT_TRUE(p->BeginWrite().ok());
    // A row, a usage map and a table definition change; the value is appended.
    for (uint32_t pg : {1u, 2u, 3u}) ASSERT_TRUE(PutPage(p.get(), pg, MakePage(pg, uint8_t(i))).ok());
    for (size_t k = 0; k < kPhoto / kPage + 1; ++k) {
      uint32_t n = 0;
      ASSERT_TRUE(p->Append(&n).ok());
      ASSERT_TRUE(PutPage(p.get(), n, MakePage(n, uint8_t(i))).ok());
    }
    ASSERT_TRUE(p->Commit().ok());
  }
  EXPECT_EQ(counting.count(Op::kSync), 2 * kRounds);
  EXPECT_EQ(counting.count(Op::kTruncate), 0);
  // The record (with the journal's header when it starts over), the
  // appended pages, the pages in place, the header again.
  EXPECT_LE(counting.count(Op::kWrite), 5 * kRounds);
  // The journal is made durable in the file and starts over now and then:
  // it stays bounded, and the file never holds anything but its pages.
  for (int i = 0; i < 400; ++i) {
    ASSERT_TRUE(p->BeginWrite().ok());
    ASSERT_TRUE(PutPage(p.get(), 1, MakePage(1, uint8_t(i))).ok());
    ASSERT_TRUE(p->Commit().ok());
    ASSERT_EQ(ReadAll(path).size(), p->page_count() * size_t(kPage));
    ASSERT_LE(ReadAll(Ldb(path)).size(), size_t(5) << 20);
  }
  EXPECT_EQ(counting.count(Op::kSync), 2 * (kRounds + 400));
}

// A commit leaves its in-place writes to be made durable by the next one's
// sync, its journal guarding them meanwhile. Cutting the next commit off at
// each of its writes, power loss included, must keep the first one: its
// journal is found behind the unfinished one and redone.
// Changes pages the first commit changed and appends 20 more.
Status SecondChange(Pager* p) {
  MDB_RETURN_IF_ERROR(p->BeginWrite());
  for (uint32_t i : {1u, 2u, 4u, kBasePages + 5}) MDB_RETURN_IF_ERROR(PutPage(p, i, MakePage(i, 0x66)));
  for (uint32_t k = 0; k < 20; ++k) {
    uint32_t n = 0;
    MDB_RETURN_IF_ERROR(p->Append(&n));
    MDB_RETURN_IF_ERROR(PutPage(p, n, MakePage(n, 0x66)));
  }
  return p->Commit();
}

std::string SecondState() {
  std::string second = NewState();
  const uint32_t first_pages = uint32_t(second.size() / kPage);
  for (uint32_t i : {1u, 2u, 4u, kBasePages + 5}) second.replace(i * kPage, kPage, MakePage(i, 0x66));
  for (uint32_t k = 0; k < 20; ++k) second += MakePage(first_pages + k, 0x66);
  return second;
}

TEST_P(PagerCrashTest, ASecondCommitCutOffKeepsTheFirst) {
  const CrashCase c = GetParam();
  TempDir dir;
  const std::string path = dir.File("a.mdb");
  const std::string base = MakeDb(kBasePages);
  const std::string first = NewState();
  const std::string second = SecondState();

  int total = 0;
  {
    Reset(path, base);
    FaultInjectionEnv counting(Env::Default());
    std::unique_ptr<Pager> p;
    ASSERT_TRUE(Pager::Open(&counting, path, true, &p).ok());
    ASSERT_TRUE(BigChange(p.get()).ok());
    counting.ResetCounters();
    ASSERT_TRUE(SecondChange(p.get()).ok());
    total = counting.count(Op::kWrite);
    ASSERT_EQ(counting.count(Op::kSync), 2);
  }
  ASSERT_EQ(ReadAll(path), second);
  ASSERT_GE(total, 3);

  bool seen_second = false;
  for (int n = 1; n <= total; ++n) {
    SCOPED_TRACE("crash after write " + std::to_string(n) + " of the second commit");
    Reset(path, base);
    FaultInjectionEnv env(Env::Default());
    {
      std::unique_ptr<Pager> p;
      ASSERT_TRUE(Pager::Open(&env, path, true, &p).ok());
      ASSERT_TRUE(BigChange(p.get()).ok());
      env.ResetCounters();
      Arm(&env, c, n);
      env.CrashAfterWrite(n, c.mode);
      SecondChange(p.get());
      ASSERT_TRUE(env.crashed());
    }
    std::string seen;
    ASSERT_NO_FATAL_FAILURE(Recover(path, &seen));
    const bool is_second = seen == second;
    ASSERT_TRUE(is_second || seen == first) << "the first commit was lost; " << seen.size() / kPage << " pages";
    if (seen_second) {
      EXPECT_TRUE(is_second) << "a later crash lost a commit an earlier one kept";
    }
    seen_second = seen_second || is_second;
  }
  EXPECT_TRUE(seen_second);
}

// A disk may write later blocks before earlier ones: at a power cut the
// first commit's in-place pages may be lost while the second commit's
// journal (whole or not) and appended pages reached the disk.
TEST(PagerCrashTest, ReorderedPowerLossKeepsTheFirst) {
  TempDir dir;
  const std::string path = dir.File("a.mdb");
  const std::string base = MakeDb(kBasePages);
  const std::string first = NewState();
  const std::string second = SecondState();
  int cases = 0;
  for (int n = 1; n <= 8; ++n) {
    for (int lost = 1; lost <= 8; ++lost) {
      SCOPED_TRACE("crash after write " + std::to_string(n) + ", oldest " + std::to_string(lost) + " lost");
      Reset(path, base);
      FaultInjectionEnv env(Env::Default());
      env.set_lose_oldest_unsynced(lost);
      {
        std::unique_ptr<Pager> p;
        ASSERT_TRUE(Pager::Open(&env, path, true, &p).ok());
        Status bs = BigChange(p.get());
        ASSERT_TRUE(bs.ok()) << bs.ToString();
        env.ResetCounters();
        env.CrashAfterWrite(n);
        SecondChange(p.get());
        if (!env.crashed()) continue;  // the commit has fewer writes
      }
      Status s;
      const std::string seen = ReadThroughPager(Env::Default(), path, true, &s);
      ASSERT_TRUE(s.ok()) << s.ToString();
      ASSERT_TRUE(seen == first || seen == second) << "the first commit was lost; " << seen.size() / kPage
                                                   << " pages";
      ASSERT_FALSE(Exists(Ldb(path)));
      ++cases;
    }
  }
  EXPECT_GT(cases, 10);
}

// Closing makes the journal durable in the file first; when that sync fails
// the journal stays, and the next opener finishes the commit; when cutting
// it off fails, nothing is lost either.
TEST(PagerFaultTest, ClosingWithAFailingSyncOrCut) {
  for (Op op : {Op::kSync, Op::kTruncate}) {
    SCOPED_TRACE(int(op));
    TempDir dir;
    const std::string path = dir.File("a.mdb");
    WriteAll(path, MakeDb(kBasePages));
    FaultInjectionEnv env(Env::Default());
    env.set_lose_unsynced(true);
    {
      std::unique_ptr<Pager> p;
      ASSERT_TRUE(Pager::Open(&env, path, true, &p).ok());
      ASSERT_TRUE(BigChange(p.get()).ok());
      env.ResetCounters();
      env.FailNth(op, 1);
    }
    Status s;
    EXPECT_EQ(ReadThroughPager(Env::Default(), path, true, &s), NewState());
    EXPECT_TRUE(s.ok()) << s.ToString();
    EXPECT_EQ(ReadAll(path), NewState());
  }
}

}  // namespace
