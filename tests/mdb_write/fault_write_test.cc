// Each kind of write statement (insert with a photo, update of a photo,
// delete with a photo, a cascading delete) with an I/O error injected at
// each of its reads, writes and syncs in turn: the statement either fails
// and the file keeps the old state, or it passed its commit point and the
// file holds the new one; either way the file reopens and checks clean.
#include <filesystem>
#include <functional>

#include "mdb/fault_env.h"
#include "tests/mdb_write/helpers.h"

using namespace writetest;
using mdb::FaultInjectionEnv;
using mdb::Value;

namespace {

std::string State(const std::string& path) {
  auto db = Open(path, u"580274");
  if (!db) return "cannot open";
  std::string out;
  for (const char16_t* name : {u"用户信息表", u"操作日志", u"用户表"}) {
    std::unique_ptr<mdb::Table> t;
    if (!db->OpenTable(name, &t).ok()) return "cannot open a table";
    out += std::to_string(t->row_count()) + ":";
    auto cur = t->Scan();
    while (cur->Next()) {
      for (size_t c = 0; c < t->columns().size(); ++c) {
        Value v;
        if (!cur->Get(int(c), &v).ok()) return "unreadable row";
        if (auto* b = std::get_if<mdb::Binary>(&v)) out += std::to_string(std::hash<std::string>()(b->bytes));
        else if (auto* s = std::get_if<std::u16string>(&v)) out += Utf8(*s);
        else if (auto* i = std::get_if<int64_t>(&v)) out += std::to_string(*i);
        out += ",";
      }
      out += ";";
    }
    out += "\n";
  }
  return out;
}

mdb::Status FirstRow(mdb::Table* t, mdb::RowId* id) {
  auto cur = t->Scan();
  if (cur->Next()) {
    *id = cur->row_id();
    return mdb::Status::OK();
  }
  MDB_RETURN_IF_ERROR(cur->status());
  return mdb::Status::NotFound("empty table");
}

using Statement = std::function<mdb::Status(mdb::Database*)>;

std::vector<Value> Person(const std::u16string& name, size_t photo, int seed) {
  std::string p(photo, '\0');
  for (size_t i = 0; i < photo; ++i) p[i] = char(i * 31 + seed);
  return {Value(), name, true, std::u16string(u"简介"), mdb::Date{30000.0}, std::u16string(u"张三"), mdb::Binary{p}};
}

mdb::Status InsertPerson(mdb::Database* db) {
  std::unique_ptr<mdb::Table> t;
  MDB_RETURN_IF_ERROR(db->OpenTable(u"用户信息表", &t));
  return t->Insert(Person(u"新人", 50 * 1024, 3), nullptr, nullptr);
}
mdb::Status UpdatePhoto(mdb::Database* db) {
  std::unique_ptr<mdb::Table> t;
  MDB_RETURN_IF_ERROR(db->OpenTable(u"用户信息表", &t));
  mdb::RowId id;
  MDB_RETURN_IF_ERROR(FirstRow(t.get(), &id));
  return t->Update(id, {{1, Value(std::u16string(u"改名"))}, {6, Value(mdb::Binary{std::string(30000, 'x')})}},
                   nullptr);
}
mdb::Status DeletePerson(mdb::Database* db) {
  std::unique_ptr<mdb::Table> t;
  MDB_RETURN_IF_ERROR(db->OpenTable(u"用户信息表", &t));
  mdb::RowId id;
  MDB_RETURN_IF_ERROR(FirstRow(t.get(), &id));
  return t->Delete(id);
}
mdb::Status DeleteUserCascading(mdb::Database* db) {
  std::unique_ptr<mdb::Table> t;
  MDB_RETURN_IF_ERROR(db->OpenTable(u"用户表", &t));
  mdb::RowId id;
  MDB_RETURN_IF_ERROR(FirstRow(t.get(), &id));
  return t->Delete(id);
}

TEST(FaultWrite, EveryStatementFailsCleanlyAtEveryIoPoint) {
  std::string base = Scratch("fault_base.mdb");
  {
    mdb::CreateOptions o;
    o.password = u"580274";
    ASSERT_TRUE(mdb::Database::Create(mdb::Env::Default(), base, o).ok());
    auto db = Open(base, u"580274");
    std::unique_ptr<mdb::Table> persons, log;
    ASSERT_TRUE(db->OpenTable(u"用户信息表", &persons).ok());
    ASSERT_TRUE(db->OpenTable(u"操作日志", &log).ok());
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(persons->Insert(Person(u"人", 20000 + 9000 * k, k), nullptr, nullptr).ok());
    for (int k = 0; k < 4; ++k)
      ASSERT_TRUE(log->Insert({int64_t(1), mdb::Date{40000.0 + k}, std::u16string(u"登录")}, nullptr, nullptr).ok());
  }
  const std::string before = State(base);
  std::string path = Scratch("fault.mdb");
  struct Case {
    const char* name;
    Statement run;
  } cases[] = {{"insert", InsertPerson}, {"update", UpdatePhoto}, {"delete", DeletePerson}, {"cascade", DeleteUserCascading}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Count the statement's operations, and its outcome.
    std::filesystem::copy_file(base, path, std::filesystem::copy_options::overwrite_existing);
    int counts[3] = {};
    {
      FaultInjectionEnv env(mdb::Env::Default());
      mdb::OpenOptions o;
      o.password = u"580274";
      std::unique_ptr<mdb::Database> db;
      ASSERT_TRUE(mdb::Database::Open(&env, path, o, &db).ok());
      env.ResetCounters();
      ASSERT_TRUE(c.run(db.get()).ok());
      counts[0] = env.count(FaultInjectionEnv::Op::kRead);
      counts[1] = env.count(FaultInjectionEnv::Op::kWrite);
      counts[2] = env.count(FaultInjectionEnv::Op::kSync);
    }
    const std::string after = State(path);
    ASSERT_NE(after, before);
    const FaultInjectionEnv::Op ops[3] = {FaultInjectionEnv::Op::kRead, FaultInjectionEnv::Op::kWrite,
                                         FaultInjectionEnv::Op::kSync};
    for (int o = 0; o < 3; ++o) {
      for (int n = 1; n <= counts[o]; ++n) {
        SCOPED_TRACE("op " + std::to_string(o) + " #" + std::to_string(n));
        std::filesystem::copy_file(base, path, std::filesystem::copy_options::overwrite_existing);
        mdb::Status s;
        {
          FaultInjectionEnv env(mdb::Env::Default());
          mdb::OpenOptions oo;
          oo.password = u"580274";
          std::unique_ptr<mdb::Database> db;
          ASSERT_TRUE(mdb::Database::Open(&env, path, oo, &db).ok());
          env.ResetCounters();
          env.FailNth(ops[o], n);
          s = c.run(db.get());
          if (!s.ok()) EXPECT_TRUE(s.IsIOError()) << s.ToString();
        }
        EXPECT_EQ(State(path), s.ok() ? after : before) << s.ToString();
        EXPECT_CLEAN(path, u"580274");
      }
    }
  }
}

}  // namespace
