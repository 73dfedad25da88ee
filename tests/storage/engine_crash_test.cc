// The engine on top of the pager: a run of inserts, updates and deletes with
// photos, each cut off after every one of its writes; and writers in two
// processes inserting into one file.
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include "mdb/fault_env.h"
#include "mdb/mdb.h"
#include "engine_util.h"
#include "storage_util.h"

namespace {

using mdb::Binary;
using mdb::Database;
using mdb::Env;
using mdb::FaultInjectionEnv;
using mdb::RowId;
using mdb::Status;
using mdb::Table;
using mdb::Value;
using namespace storage_test;

struct Step {
  const char* name;
  std::function<Status(Database*)> run;
};

std::vector<Step> Steps() {
  return {
      {"insert a person with a 50 KB photo",
       [](Database* db) {
         return InTable(db, kPersons, [](Table* t) { return t->Insert(Person(u"甲", Photo(50 * 1024, 1)), nullptr, nullptr); });
       }},
      {"insert a person with a small photo and a long profile",
       [](Database* db) {
         return InTable(db, kPersons,
                        [](Table* t) { return t->Insert(Person(u"乙", Photo(3000, 2), 3000), nullptr, nullptr); });
       }},
      {"update a person: longer name, bigger photo",
       [](Database* db) {
         return InTable(db, kPersons, [](Table* t) {
           RowId id, moved;
           MDB_RETURN_IF_ERROR(FindRow(t, 1, std::u16string(u"甲"), &id));
           return t->Update(id, {{1, std::u16string(u"甲乙丙丁戊己庚辛")}, {6, Binary{Photo(120 * 1024, 3)}}}, &moved);
         });
       }},
      {"delete a person",
       [](Database* db) {
         return InTable(db, kPersons, [](Table* t) {
           RowId id;
           MDB_RETURN_IF_ERROR(FindRow(t, 1, std::u16string(u"乙"), &id));
           return t->Delete(id);
         });
       }},
      {"two inserts in one transaction",
       [](Database* db) {
         MDB_RETURN_IF_ERROR(db->Begin());
         Status s = InTable(db, kPersons, [](Table* t) {
           MDB_RETURN_IF_ERROR(t->Insert(Person(u"丙", Photo(20 * 1024, 4)), nullptr, nullptr));
           return t->Insert(Person(u"丁", Photo(9000, 5)), nullptr, nullptr);
         });
         if (!s.ok()) {
           db->Rollback();
           return s;
         }
         return db->Commit();
       }},
      {"write a log row",
       [](Database* db) {
         return InTable(db, kLog, [](Table* t) {
           return t->Insert({int64_t(1), mdb::Date{45000.25}, std::u16string(u"登录")}, nullptr, nullptr);
         });
       }},
      {"write another log row",
       [](Database* db) {
         return InTable(db, kLog, [](Table* t) {
           return t->Insert({int64_t(1), mdb::Date{45000.5}, std::u16string(u"添加人员")}, nullptr, nullptr);
         });
       }},
      {"delete the account, cascading to its log rows",
       [](Database* db) {
         return InTable(db, kUsers, [](Table* t) {
           RowId id;
           MDB_RETURN_IF_ERROR(FindRow(t, 1, std::u16string(u"张三"), &id));
           return t->Delete(id);
         });
       }},
  };
}


// Opens the file as the next run of the program would: it must open, check
// clean, and hold one of the two states.
void ExpectOneOf(const std::string& path, const std::string& before, const std::string& after, bool* is_after) {
  std::unique_ptr<Database> db;
  Status s = OpenDb(Env::Default(), path, &db);
  ASSERT_TRUE(s.ok()) << s.ToString();
  std::vector<std::string> faults;
  s = db->Check(&faults);
  EXPECT_TRUE(s.ok()) << s.ToString();
  EXPECT_TRUE(faults.empty()) << testing::PrintToString(faults);
  std::string now;
  s = Dump(db.get(), &now);
  ASSERT_TRUE(s.ok()) << s.ToString();
  *is_after = now == after;
  EXPECT_TRUE(now == before || now == after) << "neither the state before nor after the statement";
}

struct EngineCrashMode {
  const char* name;
  bool power_loss;
  size_t torn;              // bytes of the crashing write that land; 0: all
  uint64_t sectors = 0;     // seed: the crashing write lands some of its 512-byte sectors
  uint64_t lost_sectors = 0;  // seed: the power cut keeps some sectors of each unsynced write
};
void PrintTo(const EngineCrashMode& m, std::ostream* os) { *os << m.name; }

class EngineCrashTest : public testing::TestWithParam<EngineCrashMode> {};

TEST_P(EngineCrashTest, EveryWritePointOfEveryStatement) {
  const bool power_loss = GetParam().power_loss;
  TempDir dir;
  const std::string path = dir.File("access.mdb");
  mdb::CreateOptions co;
  co.password = kPassword;
  Status s = Database::Create(Env::Default(), path, co);
  ASSERT_TRUE(s.ok()) << s.ToString();

  int crash_points = 0;
  for (const Step& step : Steps()) {
    SCOPED_TRACE(step.name);
    const std::string file_before = ReadAll(path);
    std::string before, after;
    int total = 0;
    {
      FaultInjectionEnv counting(Env::Default());  // outlives the database
      std::unique_ptr<Database> db;
      ASSERT_TRUE(OpenDb(Env::Default(), path, &db).ok());
      ASSERT_TRUE(Dump(db.get(), &before).ok());
      db.reset();
      ASSERT_TRUE(OpenDb(&counting, path, &db).ok());
      counting.ResetCounters();
      s = step.run(db.get());
      ASSERT_TRUE(s.ok()) << s.ToString();
      total = counting.count(FaultInjectionEnv::Op::kWrite);
      ASSERT_TRUE(Dump(db.get(), &after).ok());
      ASSERT_NE(before, after);
    }
    const std::string file_after = ReadAll(path);
    ASSERT_GT(total, 0);
    for (int n = 1; n <= total; ++n) {
      SCOPED_TRACE("cut off after write " + std::to_string(n) + " of " + std::to_string(total));
      Reset(path, file_before);
      {
        FaultInjectionEnv env(Env::Default());
        env.set_lose_unsynced(power_loss);
        env.set_torn_bytes(GetParam().torn);
        if (GetParam().sectors) env.set_torn_sectors(GetParam().sectors + n);
        if (GetParam().lost_sectors) env.set_lose_unsynced_sectors(GetParam().lost_sectors + n);
        std::unique_ptr<Database> db;
        ASSERT_TRUE(OpenDb(&env, path, &db).ok());
        env.ResetCounters();
        env.CrashAfterWrite(n);
        step.run(db.get());
        ASSERT_TRUE(env.crashed());
      }
      // A read-only open sees the committed state and changes nothing.
      const std::string crashed_file = ReadAll(path);
      std::string seen_read_only;
      {
        mdb::OpenOptions ro;
        ro.password = kPassword;
        ro.read_only = true;
        std::unique_ptr<Database> db;
        Status rs = Database::Open(Env::Default(), path, ro, &db);
        ASSERT_TRUE(rs.ok()) << rs.ToString();
        ASSERT_TRUE(Dump(db.get(), &seen_read_only).ok());
      }
      EXPECT_EQ(ReadAll(path), crashed_file);
      bool is_after = false;
      ExpectOneOf(path, before, after, &is_after);
      EXPECT_EQ(seen_read_only, is_after ? after : before);
      if (n == total) {
        EXPECT_TRUE(is_after);
      }
      ++crash_points;
    }
    Reset(path, file_after);
  }
  EXPECT_GT(crash_points, 20);
}

INSTANTIATE_TEST_SUITE_P(Modes, EngineCrashTest,
                         testing::Values(EngineCrashMode{"CutOff", false, 0}, EngineCrashMode{"PowerLoss", true, 0},
                                         EngineCrashMode{"Torn", false, 1000}, EngineCrashMode{"TornSectors", false, 0, 5},
                                         EngineCrashMode{"PowerLossSectors", true, 0, 0, 9}),
                         [](const testing::TestParamInfo<EngineCrashMode>& i) { return std::string(i.param.name); });

// An I/O error on any write or sync of a statement: the statement fails or
// succeeds as a whole, and the database keeps working.
TEST(EngineFaultTest, FailingWritesAndSyncs) {
  TempDir dir;
  const std::string path = dir.File("access.mdb");
  mdb::CreateOptions co;
  co.password = kPassword;
  ASSERT_TRUE(Database::Create(Env::Default(), path, co).ok());
  const Step step = Steps()[0];
  const std::string file_before = ReadAll(path);
  std::string before, after;
  int writes = 0, syncs = 0;
  {
    FaultInjectionEnv counting(Env::Default());
    std::unique_ptr<Database> db;
    ASSERT_TRUE(OpenDb(&counting, path, &db).ok());
    ASSERT_TRUE(Dump(db.get(), &before).ok());
    counting.ResetCounters();
    ASSERT_TRUE(step.run(db.get()).ok());
    writes = counting.count(FaultInjectionEnv::Op::kWrite);
    syncs = counting.count(FaultInjectionEnv::Op::kSync);
    ASSERT_TRUE(Dump(db.get(), &after).ok());
  }
  EXPECT_EQ(syncs, 2);
  for (auto op : {FaultInjectionEnv::Op::kWrite, FaultInjectionEnv::Op::kSync}) {
    const int total = op == FaultInjectionEnv::Op::kWrite ? writes : syncs;
    for (int n = 1; n <= total; ++n) {
      SCOPED_TRACE("failing operation " + std::to_string(n));
      Reset(path, file_before);
      FaultInjectionEnv env(Env::Default());
      std::unique_ptr<Database> db;
      ASSERT_TRUE(OpenDb(&env, path, &db).ok());
      env.ResetCounters();
      env.FailNth(op, n);
      Status s = step.run(db.get());
      std::string now;
      Status ds = Dump(db.get(), &now);
      ASSERT_TRUE(ds.ok()) << ds.ToString();
      EXPECT_EQ(now, s.ok() ? after : before) << s.ToString();
      if (!s.ok()) {
        EXPECT_TRUE(s.IsIOError()) << s.ToString();
        ASSERT_TRUE(step.run(db.get()).ok());  // the same handle works again
      }
      db.reset();
      bool is_after = false;
      ExpectOneOf(path, before, after, &is_after);
      EXPECT_TRUE(is_after);
    }
  }
}

constexpr int kRowsPerWriter = 25;

// Inserts rows with photos through its own Database; 0 or a failure code.
int EngineWriter(const std::string& path, int who) {
  std::unique_ptr<Database> db;
  if (!OpenDb(Env::Default(), path, &db).ok()) return 10;
  std::unique_ptr<Table> t;
  if (!db->OpenTable(kPersons, &t).ok()) return 12;
  for (int i = 0; i < kRowsPerWriter; ++i) {
    std::u16string name = u"进程" + std::u16string(1, char16_t(u'A' + who)) + std::u16string(1, char16_t(u'a' + i));
    for (int attempt = 0;; ++attempt) {
      // The table stays open across the other writer's commits.
      Status s = t->Insert(Person(name, Photo(8000 + 1000 * i, who * 100 + i)), nullptr, nullptr);
      if (s.ok()) break;
      if (s.code() != Status::Code::kBusy || attempt > 50) return 11;
    }
  }
  return 0;
}

#ifndef _WIN32
// Reads the table in snapshots while the writers work: the rows found always
// agree with the row count, and photos read back whole.
int EngineReader(const std::string& path) {
  std::unique_ptr<Database> db;
  if (!OpenDb(Env::Default(), path, &db).ok()) return 20;
  for (int i = 0; i < 40; ++i) {
    if (!db->BeginRead().ok()) return 21;
    std::unique_ptr<Table> t;
    if (!db->OpenTable(kPersons, &t).ok()) return 22;
    uint32_t rows = 0;
    auto c = t->Scan();
    while (c->Next()) {
      Value photo;
      if (!c->Get(6, &photo).ok() || std::get<Binary>(photo).bytes.size() < 8000) return 23;
      ++rows;
    }
    if (!c->status().ok()) return 24;
    if (rows != t->row_count()) return 25;
    db->EndRead();
  }
  return 0;
}
#endif

class EngineConcurrencyTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("access.mdb");
    mdb::CreateOptions co;
    co.password = kPassword;
    ASSERT_TRUE(Database::Create(Env::Default(), path_, co).ok());
  }
  void CheckRows() {
    std::unique_ptr<Database> db;
    ASSERT_TRUE(OpenDb(Env::Default(), path_, &db).ok());
    std::vector<std::string> faults;
    ASSERT_TRUE(db->Check(&faults).ok());
    EXPECT_TRUE(faults.empty()) << testing::PrintToString(faults);
    std::unique_ptr<Table> t;
    ASSERT_TRUE(db->OpenTable(kPersons, &t).ok());
    std::vector<int64_t> ids;
    int rows = 0;
    auto c = t->Scan();
    while (c->Next()) {
      Value id, name, photo;
      ASSERT_TRUE(c->Get(0, &id).ok());
      ASSERT_TRUE(c->Get(1, &name).ok());
      ASSERT_TRUE(c->Get(6, &photo).ok());
      ids.push_back(std::get<int64_t>(id));
      const std::u16string& n = std::get<std::u16string>(name);
      const int who = n[2] - u'A', i = n[3] - u'a';
      EXPECT_EQ(std::get<Binary>(photo).bytes, Photo(8000 + 1000 * i, who * 100 + i));
      ++rows;
    }
    ASSERT_TRUE(c->status().ok());
    EXPECT_EQ(rows, 2 * kRowsPerWriter);
    EXPECT_EQ(t->row_count(), uint32_t(2 * kRowsPerWriter));
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end()) << "an auto-number was given twice";
  }
  TempDir dir_;
  std::string path_;
};

TEST_F(EngineConcurrencyTest, TwoDatabasesInOneProcess) {
  int results[2] = {-1, -1};
  std::thread a([&] { results[0] = EngineWriter(path_, 0); });
  std::thread b([&] { results[1] = EngineWriter(path_, 1); });
  a.join();
  b.join();
  EXPECT_EQ(results[0], 0);
  EXPECT_EQ(results[1], 0);
  CheckRows();
}

#ifndef _WIN32
TEST_F(EngineConcurrencyTest, TwoProcessesAndAReader) {
  std::vector<pid_t> pids;
  for (int who : {0, 1, 2}) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(who == 2 ? EngineReader(path_) : EngineWriter(path_, who));
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  CheckRows();
}
#endif

}  // namespace

namespace {

// A durable insert of a 50 KB photo costs exactly two syncs: counted, never
// timed (the benchmarks measure rates).
TEST(EngineCostTest, PhotoInserts) {
  TempDir dir;
  constexpr int kRounds = 30;
  const std::string photo = Photo(50 * 1024, 7);
  const std::string path = dir.File("access.mdb");
  mdb::CreateOptions co;
  co.password = kPassword;
  ASSERT_TRUE(Database::Create(Env::Default(), path, co).ok());
  FaultInjectionEnv counting(Env::Default());
  std::unique_ptr<Database> db;
  ASSERT_TRUE(OpenDb(&counting, path, &db).ok());
  std::unique_ptr<Table> t;
  ASSERT_TRUE(db->OpenTable(kPersons, &t).ok());
  counting.ResetCounters();
  for (int i = 0; i < kRounds; ++i) ASSERT_TRUE(t->Insert(Person(u"照片", photo), nullptr, nullptr).ok());
  EXPECT_EQ(counting.count(FaultInjectionEnv::Op::kSync), 2 * kRounds);
  EXPECT_EQ(counting.count(FaultInjectionEnv::Op::kTruncate), 0);
  // Closing syncs nothing more; the lock file goes: a plain database that
  // other programs read.
  db.reset();
  EXPECT_EQ(counting.count(FaultInjectionEnv::Op::kSync), 2 * kRounds);
  EXPECT_EQ(ReadAll(path).size() % 4096, 0u);
  EXPECT_FALSE(Exists(Ldb(path)));
  std::string seen;
  ASSERT_TRUE(OpenDb(Env::Default(), path, &db).ok());
  std::vector<std::string> faults;
  ASSERT_TRUE(db->Check(&faults).ok());
  EXPECT_TRUE(faults.empty());
}

}  // namespace

namespace {

// A new database takes its name only when complete: cut off at any write,
// with or without losing what was not synced, the name holds nothing or a
// whole database, and creating it again works.
TEST(EngineCrashTest, CreateCutOffLeavesNoHalfMadeDatabase) {
  TempDir dir;
  const std::string path = dir.File("access.mdb");
  mdb::CreateOptions co;
  co.password = kPassword;
  int total = 0;
  {
    FaultInjectionEnv counting(Env::Default());
    ASSERT_TRUE(Database::Create(&counting, path, co).ok());
    total = counting.count(FaultInjectionEnv::Op::kWrite);
  }
  std::string whole;
  {
    std::unique_ptr<Database> db;
    ASSERT_TRUE(OpenDb(Env::Default(), path, &db).ok());
    ASSERT_TRUE(Dump(db.get(), &whole).ok());
  }
  ASSERT_GT(total, 3);
  for (bool power_loss : {false, true}) {
    for (int n = 1; n <= total; ++n) {
      SCOPED_TRACE("cut off after write " + std::to_string(n) + (power_loss ? ", unsynced lost" : ""));
      std::remove(path.c_str());
      {
        FaultInjectionEnv env(Env::Default());
        env.set_lose_unsynced(power_loss);
        env.CrashAfterWrite(n);
        Database::Create(&env, path, co);
        ASSERT_TRUE(env.crashed());
      }
      if (Env::Default()->FileExists(path)) {
        std::unique_ptr<Database> db;
        Status s = OpenDb(Env::Default(), path, &db);
        ASSERT_TRUE(s.ok()) << s.ToString();
        std::string seen;
        ASSERT_TRUE(Dump(db.get(), &seen).ok());
        EXPECT_EQ(seen, whole);
        continue;
      }
      Status s = Database::Create(Env::Default(), path, co);
      ASSERT_TRUE(s.ok()) << s.ToString();
      EXPECT_FALSE(Env::Default()->FileExists(path + ".creating"));
    }
  }
  // Creating over an existing file fails and leaves it alone.
  const std::string before = ReadAll(path);
  EXPECT_FALSE(Database::Create(Env::Default(), path, co).ok());
  EXPECT_EQ(ReadAll(path), before);
}

}  // namespace
