// The database shared with another program that uses it as Access does
// (JetPeer: the lock file as Jet documents it, pages written in place), with
// this engine's other users and with long readers: who sees whom, whose
// writes wait, and what a crash on either side leaves. Nothing may be
// reverted, lost or left inconsistent.
#ifdef _WIN32
#include <windows.h>
#undef CreateFile
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstring>
#include <thread>

#include "engine_util.h"
#include "jet_peer.h"
#include "mdb/database_impl.h"
#include "mdb/fault_env.h"
#include "mdb/lock_file.h"
#include "storage_util.h"

namespace {

using mdb::FaultInjectionEnv;
using namespace storage_test;

// The user entry of slot n (1-based) in a lock file: computer, user.
std::pair<std::string, std::string> EntryOf(const std::string& ldb, int n) {
  const std::string bytes = ReadAll(ldb);
  if (bytes.size() < size_t(n) * 64) return {};
  auto name = [&](size_t at) {
    std::string s = bytes.substr(at, 32);
    return s.substr(0, s.find('\0'));
  };
  return {name(size_t(n - 1) * 64), name(size_t(n - 1) * 64 + 32)};
}

class SharingTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("access.mdb");
    mdb::CreateOptions co;
    co.password = kPassword;
    ASSERT_TRUE(Database::Create(Env::Default(), path_, co).ok());
    std::unique_ptr<Database> db;
    ASSERT_TRUE(OpenDb(Env::Default(), path_, &db).ok());
    ASSERT_TRUE(InTable(db.get(), kPersons, [](Table* t) {
                  int i = 0;
                  for (const char16_t* name : {u"人一", u"人二", u"人三"})
                    MDB_RETURN_IF_ERROR(t->Insert(Person(name, Photo(9000, i++)), nullptr, nullptr));
                  return Status::OK();
                }).ok());
  }

  // Faults of the file as the next run of the program finds them.
  std::vector<std::string> Faults() {
    std::unique_ptr<Database> db;
    Status s = OpenDb(Env::Default(), path_, &db);
    EXPECT_TRUE(s.ok()) << s.ToString();
    std::vector<std::string> faults;
    if (s.ok()) {
      EXPECT_TRUE(db->Check(&faults).ok());
    }
    return faults;
  }

  std::string State() {
    std::unique_ptr<Database> db;
    std::string out;
    Status s = OpenDb(Env::Default(), path_, &db);
    if (s.ok()) s = Dump(db.get(), &out);
    EXPECT_TRUE(s.ok()) << s.ToString();
    return out;
  }

  TempDir dir_;
  std::string path_;
};

// A change that stays on its row's page: what an edit in Access writes.
Status SetPassword(Database* db, const std::u16string& password) {
  return InTable(db, kUsers, [&](Table* t) {
    RowId id, moved;
    MDB_RETURN_IF_ERROR(FindRow(t, 1, std::u16string(u"张三"), &id));
    return t->Update(id, {{2, password}}, &moved);
  });
}

Status SetSex(Database* db, const std::u16string& name, bool male) {
  return InTable(db, kPersons, [&](Table* t) {
    RowId id, moved;
    MDB_RETURN_IF_ERROR(FindRow(t, 1, name, &id));
    return t->Update(id, {{2, male}}, &moved);
  });
}

Status Insert(Database* db, const std::u16string& name, size_t photo, int seed) {
  return InTable(db, kPersons, [&](Table* t) { return t->Insert(Person(name, Photo(photo, seed)), nullptr, nullptr); });
}

TEST_F(SharingTest, EveryUserHasAnEntryAndTheLastOneRemovesTheLockFile) {
  const std::string ldb = Ldb(path_);
  std::unique_ptr<Database> a, b;
  ASSERT_TRUE(OpenDb(Env::Default(), path_, &a).ok());
  ASSERT_TRUE(OpenDb(Env::Default(), path_, &b).ok());
  std::unique_ptr<JetPeer> peer;
  ASSERT_TRUE(JetPeer::Open(Env::Default(), path_, &peer).ok());
  EXPECT_EQ(peer->slot(), 3);
  EXPECT_EQ(EntryOf(ldb, 1), std::make_pair(Env::Default()->ComputerName(), std::string("Admin")));
  EXPECT_EQ(EntryOf(ldb, 2), std::make_pair(Env::Default()->ComputerName(), std::string("Admin")));
  EXPECT_EQ(EntryOf(ldb, 3), std::make_pair(std::string("PEER-PC"), std::string("Admin")));
  a.reset();
  EXPECT_TRUE(Exists(ldb));
  peer.reset();
  EXPECT_TRUE(Exists(ldb));
  // A new user takes the first free slot.
  ASSERT_TRUE(OpenDb(Env::Default(), path_, &a).ok());
  EXPECT_EQ(EntryOf(ldb, 1).second, "Admin");
  a.reset();
  b.reset();
  EXPECT_FALSE(Exists(ldb));
}

// While another program has the file open, this engine reads everything it
// writes and writes nothing itself (that program neither reads its journal
// nor knows when its cached pages went stale): each write says why. Once it
// has gone, writes go on, and nothing of either is lost.
TEST_F(SharingTest, AnotherProgramHoldsWritesBackUntilItCloses) {
  std::unique_ptr<Database> db;
  ASSERT_TRUE(OpenDb(Env::Default(), path_, &db).ok());
  ASSERT_TRUE(Insert(db.get(), u"甲", 50 * 1024, 10).ok());
  std::unique_ptr<JetPeer> peer;
  ASSERT_TRUE(JetPeer::Open(Env::Default(), path_, &peer).ok());

  Status s = Insert(db.get(), u"乙", 3000, 11);
  EXPECT_EQ(s.code(), Status::Code::kBusy) << s.ToString();
  EXPECT_NE(s.message().find("PEER-PC"), std::string::npos) << s.ToString();
  EXPECT_EQ(db->Begin().code(), Status::Code::kBusy);

  // The other program edits a row in place and adds one with a photo.
  ASSERT_TRUE(SetPassword(peer->db(), u"654321").ok());
  ASSERT_TRUE(Insert(peer->db(), u"丙", 40 * 1024, 12).ok());
  std::string seen;
  ASSERT_TRUE(Dump(db.get(), &seen).ok());
  std::string peers;
  ASSERT_TRUE(Dump(peer->db(), &peers).ok());
  EXPECT_EQ(seen, peers) << "this engine reads what the other program wrote";

  peer.reset();
  ASSERT_TRUE(Insert(db.get(), u"乙", 3000, 11).ok());
  db.reset();
  EXPECT_TRUE(Faults().empty()) << testing::PrintToString(Faults());
  std::unique_ptr<Database> again;
  ASSERT_TRUE(OpenDb(Env::Default(), path_, &again).ok());
  std::unique_ptr<Table> persons, users;
  ASSERT_TRUE(again->OpenTable(kPersons, &persons).ok());
  ASSERT_TRUE(again->OpenTable(kUsers, &users).ok());
  EXPECT_EQ(persons->row_count(), 6u);
  for (const char16_t* name : {u"甲", u"乙", u"丙"}) {
    RowId id;
    EXPECT_TRUE(FindRow(persons.get(), 1, std::u16string(name), &id).ok());
  }
  RowId id;
  EXPECT_TRUE(FindRow(users.get(), 2, std::u16string(u"654321"), &id).ok());
}

// Nobody joins while a write is under way: Access would read pages half
// written and keep them in its cache.
TEST_F(SharingTest, NobodyJoinsDuringAWrite) {
  std::unique_ptr<Database> db;
  ASSERT_TRUE(OpenDb(Env::Default(), path_, &db).ok());
  ASSERT_TRUE(db->Begin().ok());
  ASSERT_TRUE(Insert(db.get(), u"丁", 20000, 13).ok());
  std::unique_ptr<JetPeer> peer;
  EXPECT_EQ(JetPeer::Open(Env::Default(), path_, &peer, 200).code(), Status::Code::kBusy);
  ASSERT_TRUE(db->Commit().ok());
  ASSERT_TRUE(JetPeer::Open(Env::Default(), path_, &peer, 200).ok());
}

// A file held by another program, or that the user may only read, opens
// for reading; every write fails with the reason and writes nothing.
TEST_F(SharingTest, AFileThatCannotBeWrittenOpensReadOnly) {
  const std::string before = State();
  FaultInjectionEnv held(Env::Default());
  held.set_refuse_writable_opens(true);
  std::unique_ptr<Database> db;
  ASSERT_TRUE(OpenDb(&held, path_, &db).ok());
  held.ResetCounters();
  std::string seen;
  ASSERT_TRUE(Dump(db.get(), &seen).ok());
  EXPECT_EQ(seen, before);
  Status s = Insert(db.get(), u"戊", 100, 14);
  EXPECT_TRUE(s.IsReadOnly()) << s.ToString();
  EXPECT_NE(s.message().find("can only be read"), std::string::npos) << s.ToString();
  EXPECT_TRUE(db->Begin().IsReadOnly());
  EXPECT_TRUE(SetPassword(db.get(), u"x").IsReadOnly());
  EXPECT_EQ(held.count(FaultInjectionEnv::Op::kWrite), 0);
  db.reset();
  EXPECT_EQ(State(), before);
#ifdef _WIN32
  // The same with Windows' own exclusive open: it shares only reading.
  std::wstring wide(path_.begin(), path_.end());
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(OpenDb(Env::Default(), path_, &db).ok());
  ASSERT_TRUE(Dump(db.get(), &seen).ok());
  EXPECT_EQ(seen, before);
  EXPECT_TRUE(Insert(db.get(), u"戊", 100, 14).IsReadOnly());
  db.reset();
  CloseHandle(h);
  // And while this engine has the file open, nobody opens it exclusively.
  ASSERT_TRUE(OpenDb(Env::Default(), path_, &db).ok());
  h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
#endif
}

// This engine cut off at every write of a statement; then the other program
// opens the file before this engine does, edits a row in place and appends a
// page of its own. The next open keeps all of it: the other program's
// changes, and the statement whole or not at all. (Another user of this
// engine keeps the lock file there meanwhile: Access, last out, removes it
// with the journal; see mdb/README.md for what that costs.)
TEST_F(SharingTest, OurCrashThenAnotherProgramThenUs) {
  const Files start = SaveFiles(path_);
  struct Mode {
    bool power_loss;
    uint64_t torn, lost;
  };
  int cases = 0, declined = 0;
  for (const Mode m : {Mode{false, 0, 0}, Mode{true, 0, 0}, Mode{false, 3, 0}, Mode{true, 0, 5}}) {
    for (int n = 1; n <= 12; ++n) {
      SCOPED_TRACE("power loss " + std::to_string(m.power_loss) + ", torn " + std::to_string(m.torn) + ", lost " +
                   std::to_string(m.lost) + ", cut off after write " + std::to_string(n));
      RestoreFiles(path_, start);
      {
        FaultInjectionEnv env(Env::Default());
        env.set_lose_unsynced(m.power_loss);
        if (m.torn) env.set_torn_sectors(m.torn + n);
        if (m.lost) env.set_lose_unsynced_sectors(m.lost + n);
        std::unique_ptr<Database> db;
        ASSERT_TRUE(OpenDb(&env, path_, &db).ok());
        env.ResetCounters();
        env.CrashAfterWrite(n);
        Insert(db.get(), u"己", 50 * 1024, 15);
        if (!env.crashed()) break;
      }
      ++cases;
      uint32_t loose = 0;
      {
        std::unique_ptr<Database> watcher;
        mdb::OpenOptions ro;
        ro.password = kPassword;
        ro.read_only = true;
        ASSERT_TRUE(Database::Open(Env::Default(), path_, ro, &watcher).ok());
        std::unique_ptr<JetPeer> peer;
        ASSERT_TRUE(JetPeer::Open(Env::Default(), path_, &peer).ok());
        ASSERT_TRUE(SetPassword(peer->db(), u"13579" + std::u16string(1, char16_t(u'0' + n % 10))).ok());
        loose = static_cast<uint32_t>(ReadAll(path_).size() / kPage);  // where it appends
        ASSERT_TRUE(peer->AppendLoosePage(uint8_t(n)).ok());
      }
      const std::string loose_page = ReadAll(path_).substr(size_t(loose) * kPage, kPage);

      std::vector<std::string> faults = Faults();
      // The other program's edit and page are there, untouched.
      std::unique_ptr<Database> db;
      ASSERT_TRUE(OpenDb(Env::Default(), path_, &db).ok());
      std::unique_ptr<Table> users;
      ASSERT_TRUE(db->OpenTable(kUsers, &users).ok());
      RowId id;
      EXPECT_TRUE(FindRow(users.get(), 2, u"13579" + std::u16string(1, char16_t(u'0' + n % 10)), &id).ok());
      db.reset();
      EXPECT_EQ(ReadAll(path_).substr(size_t(loose) * kPage, kPage), loose_page);
      // Ours whole or not at all; when recovery had to leave it, it says so.
      std::unique_ptr<Table> persons;
      ASSERT_TRUE(OpenDb(Env::Default(), path_, &db).ok());
      ASSERT_TRUE(db->OpenTable(kPersons, &persons).ok());
      const bool ours = FindRow(persons.get(), 1, std::u16string(u"己"), &id).ok();
      EXPECT_EQ(persons->row_count(), ours ? 4u : 3u);
      db.reset();
      if (!faults.empty()) {
        ++declined;
        EXPECT_FALSE(ours);
        ASSERT_EQ(faults.size(), 1u) << testing::PrintToString(faults);
        EXPECT_NE(faults[0].find("taken back"), std::string::npos) << faults[0];
      }
    }
  }
  EXPECT_GT(cases, 20);
  // A commit cut off before its pages reached the file, whose appended
  // pages' place the other program then took, is one such.
  EXPECT_GT(declined, 0);
}

// The other program cut off at every write of its in-place edits while
// this engine has the file open with commits its journal still guards; then
// this engine writes again, is cut off itself, and opens again: no change of
// the other program's that reached the file is undone, none of ours is lost.
TEST_F(SharingTest, AnotherProgramsCrashWhileWeHaveTheFileOpen) {
  const Files start = SaveFiles(path_);
  for (int n = 1; n <= 6; ++n) {
    SCOPED_TRACE("the other program cut off after its write " + std::to_string(n));
    RestoreFiles(path_, start);
    std::u16string password = u"24680" + std::u16string(1, char16_t(u'0' + n));
    bool peer_edited = false, peer_sex = false;
    {
      FaultInjectionEnv ours_env(Env::Default());
      std::unique_ptr<Database> db;
      ASSERT_TRUE(OpenDb(&ours_env, path_, &db).ok());
      ASSERT_TRUE(Insert(db.get(), u"庚", 30000, 16).ok());
      ASSERT_TRUE(Insert(db.get(), u"辛", 8000, 17).ok());
      {
        FaultInjectionEnv peer_env(Env::Default());
        std::unique_ptr<JetPeer> peer;
        ASSERT_TRUE(JetPeer::Open(&peer_env, path_, &peer).ok());
        peer_env.ResetCounters();
        peer_env.CrashAfterWrite(n);
        // Three edits in place and a page of its own: one write each.
        peer_edited = SetPassword(peer->db(), password).ok() && !peer_env.crashed();
        peer_sex = SetSex(peer->db(), u"人一", false).ok() && !peer_env.crashed();
        SetSex(peer->db(), u"庚", false);
        peer->AppendLoosePage(0x5A);
      }
      ASSERT_TRUE(Insert(db.get(), u"壬", 12000, 18).ok());
      ours_env.CrashAfterWrite(1);
      Insert(db.get(), u"癸", 12000, 19);  // cut off
      ASSERT_TRUE(ours_env.crashed());
    }
    EXPECT_TRUE(Faults().empty()) << testing::PrintToString(Faults());
    std::unique_ptr<Database> db;
    ASSERT_TRUE(OpenDb(Env::Default(), path_, &db).ok());
    std::unique_ptr<Table> persons, users;
    ASSERT_TRUE(db->OpenTable(kPersons, &persons).ok());
    ASSERT_TRUE(db->OpenTable(kUsers, &users).ok());
    RowId id;
    for (const char16_t* name : {u"庚", u"辛", u"壬"}) EXPECT_TRUE(FindRow(persons.get(), 1, std::u16string(name), &id).ok());
    if (peer_edited) {
      EXPECT_TRUE(FindRow(users.get(), 2, password, &id).ok());
    }
    if (peer_sex) {
      ASSERT_TRUE(FindRow(persons.get(), 1, std::u16string(u"人一"), &id).ok());
      Value male;
      ASSERT_TRUE(persons->Read(id, 2, &male).ok());
      EXPECT_EQ(male, Value(false));
    }
  }
}

// A commit cut off before its pages reached the file, one of whose pages the
// other program then changed: recovery leaves the file alone (redoing the
// page would undo that program's change) and says so in the check.
TEST_F(SharingTest, RecoveryLeavesAPageAnotherProgramChanged) {
  {
    FaultInjectionEnv env(Env::Default());
    std::unique_ptr<Database> db;
    ASSERT_TRUE(OpenDb(&env, path_, &db).ok());
    env.ResetCounters();
    env.CrashAfterWrite(2);  // the journal's header and the record: synced, nothing in place
    SetSex(db.get(), u"人二", false);
    ASSERT_TRUE(env.crashed());
  }
  {
    std::unique_ptr<Database> watcher;  // keeps the lock file there
    mdb::OpenOptions ro;
    ro.password = kPassword;
    ro.read_only = true;
    ASSERT_TRUE(Database::Open(Env::Default(), path_, ro, &watcher).ok());
    std::unique_ptr<JetPeer> peer;
    ASSERT_TRUE(JetPeer::Open(Env::Default(), path_, &peer).ok());
    ASSERT_TRUE(SetSex(peer->db(), u"人三", false).ok());  // the same data page
  }
  std::vector<std::string> faults = Faults();
  ASSERT_EQ(faults.size(), 1u) << testing::PrintToString(faults);
  EXPECT_NE(faults[0].find("another program"), std::string::npos) << faults[0];
  std::unique_ptr<Database> db;
  ASSERT_TRUE(OpenDb(Env::Default(), path_, &db).ok());
  std::unique_ptr<Table> persons;
  ASSERT_TRUE(db->OpenTable(kPersons, &persons).ok());
  auto sex = [&](const char16_t* name) {
    RowId id;
    Value v;
    EXPECT_TRUE(FindRow(persons.get(), 1, std::u16string(name), &id).ok());
    EXPECT_TRUE(persons->Read(id, 2, &v).ok());
    return v;
  };
  EXPECT_EQ(sex(u"人三"), Value(false)) << "the other program's change was undone";
  EXPECT_EQ(sex(u"人二"), Value(true));
  // The statement runs again, and then the file checks clean.
  ASSERT_TRUE(SetSex(db.get(), u"人二", false).ok());
  db.reset();
  EXPECT_TRUE(Faults().empty()) << testing::PrintToString(Faults());
}

#ifndef _WIN32
// A reader that holds its snapshot while another process commits many
// times: no commit waits for it, and it goes on seeing one state.
int HoldingReader(const std::string& path, int go_fd, int done_fd) {
  std::unique_ptr<Database> db;
  if (!OpenDb(Env::Default(), path, &db).ok()) return 20;
  if (!db->BeginRead().ok()) return 21;
  std::string first;
  if (!Dump(db.get(), &first).ok()) return 22;
  char c = 1;
  if (write(go_fd, &c, 1) != 1 || read(done_fd, &c, 1) != 1) return 23;
  std::string again;
  if (!Dump(db.get(), &again).ok()) return 24;
  if (again != first) return 25;
  db->EndRead();
  std::unique_ptr<Table> t;
  if (!db->OpenTable(kPersons, &t).ok() || t->row_count() != 3 + 30) return 26;
  return 0;
}

TEST_F(SharingTest, AReaderInAnotherProcessHoldsNoWriterBack) {
  int go[2], done[2];
  ASSERT_EQ(pipe(go), 0);
  ASSERT_EQ(pipe(done), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) _exit(HoldingReader(path_, go[1], done[0]));
  char c = 0;
  ASSERT_EQ(read(go[0], &c, 1), 1);
  mdb::PagerOptions quick;  // a writer that waited for the reader would fail
  quick.busy_timeout_ms = 100;
  std::unique_ptr<Database> db;
  mdb::OpenOptions o;
  o.password = kPassword;
  ASSERT_TRUE(mdb::DatabaseImpl::Open(Env::Default(), path_, o, quick, &db).ok());
  for (int i = 0; i < 30; ++i) {
    Status s = Insert(db.get(), u"写" + std::u16string(1, char16_t(u'a' + i)), 20000 + 500 * i, 100 + i);
    ASSERT_TRUE(s.ok()) << i << ": " << s.ToString();
  }
  ASSERT_EQ(write(done[1], &c, 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  db.reset();
  EXPECT_TRUE(Faults().empty());
}
#endif

}  // namespace
