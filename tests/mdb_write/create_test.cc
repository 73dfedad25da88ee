// New files with the program's schema: read by mdbtools, written with
// photos, Chinese text and large values, relationships enforced, checked.
#include <random>

#include "tests/mdb_write/helpers.h"

using namespace writetest;
using mdb::Value;

namespace {

std::string NewDb(const std::string& name, const std::u16string& password = u"580274") {
  std::string path = Scratch(name);
  mdb::CreateOptions o;
  o.password = password;
  mdb::Status s = mdb::Database::Create(mdb::Env::Default(), path, o);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return path;
}

std::string Bytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = char(rng());
  return s;
}

TEST(Create, ProgramSchemaReadableByMdbtools) {
  std::string path = NewDb("create.mdb");
  EXPECT_CLEAN(path, u"580274");
  std::string tables = RunCommand("mdb-tables -1 '" + path + "'");
  EXPECT_EQ(tables, Utf8(u"用户信息表\n操作日志\n用户表\n"));
  EXPECT_EQ(MdbExport(path, Utf8(u"用户表")), (std::vector<std::string>{Utf8(u"1,\"张三\",\"580274\"")}));
  auto rels = MdbExport(path, "MSysRelationships");
  ASSERT_EQ(rels.size(), 1u);
  EXPECT_NE(rels[0].find(Utf8(u"4096,1,0,\"操作日志\",\"用户ID\",\"用户表\",\"ID\"")), std::string::npos) << rels[0];
  std::string schema = RunCommand("mdb-schema '" + path + "' 2>/dev/null");
  EXPECT_NE(schema.find(Utf8(u"[照片]\t\t\tOLE")), std::string::npos) << schema;
  EXPECT_NE(schema.find(Utf8(u"[个人简介]\t\t\tMemo")), std::string::npos);
  // The password guards the file; an existing file is never overwritten.
  mdb::OpenOptions wrong;
  wrong.password = u"nope";
  std::unique_ptr<mdb::Database> db;
  EXPECT_EQ(mdb::Database::Open(mdb::Env::Default(), path, wrong, &db).code(), mdb::Status::Code::kBadPassword);
  EXPECT_FALSE(mdb::Database::Create(mdb::Env::Default(), path, mdb::CreateOptions()).ok());
}

TEST(Create, PersonsWithPhotosChineseTextAndRefill) {
  std::string path = NewDb("persons.mdb");
  std::string photo_small = Bytes(3000, 1), photo_mid = Bytes(70000, 2), photo_big = Bytes(20u << 20, 3);
  std::vector<mdb::RowId> ids;
  {
    auto db = Open(path, u"580274");
    std::unique_ptr<mdb::Table> t;
    ASSERT_TRUE(db->OpenTable(u"用户信息表", &t).ok());
    const std::string photos[] = {"", photo_small, photo_mid, photo_big};
    for (int k = 0; k < 12; ++k) {
      std::u16string profile = k % 2 ? std::u16string(2000, u'简') : u"简介";
      std::vector<Value> row = {Value(), u"张三" + std::u16string(1, char16_t(u'0' + k)), k % 2 == 0, profile,
                                mdb::Date{30000.0 + k}, u"管理员", mdb::Binary{photos[k % 4]}};
      mdb::RowId id;
      int64_t autonumber = 0;
      mdb::Status s = t->Insert(row, &id, &autonumber);
      ASSERT_TRUE(s.ok()) << s.ToString();
      EXPECT_EQ(autonumber, k + 1);
      ids.push_back(id);
    }
  }
  EXPECT_CLEAN(path, u"580274");
  {
    auto db = Open(path, u"580274");
    std::unique_ptr<mdb::Table> t;
    ASSERT_TRUE(db->OpenTable(u"用户信息表", &t).ok());
    Value v;
    ASSERT_TRUE(t->Read(ids[3], 6, &v).ok());
    EXPECT_TRUE(std::get<mdb::Binary>(v).bytes == photo_big);
    ASSERT_TRUE(t->Read(ids[2], 6, &v).ok());
    EXPECT_TRUE(std::get<mdb::Binary>(v).bytes == photo_mid);
    // Seek by the primary key.
    std::unique_ptr<mdb::Cursor> c;
    ASSERT_TRUE(t->Seek(0, {int64_t(4)}, &c).ok());
    ASSERT_TRUE(c->Next());
    EXPECT_EQ(c->row_id(), ids[3]);
    EXPECT_FALSE(c->Next());
    // Replace the big photo by a small one: its pages are freed and reused.
    mdb::RowId moved;
    ASSERT_TRUE(t->Update(ids[3], {{6, mdb::Binary{photo_small}}, {1, std::u16string(u"李四")}}, &moved).ok());
  }
  EXPECT_CLEAN(path, u"580274");
  auto rows = MdbExport(path, Utf8(u"用户信息表"), "-b strip");
  ASSERT_EQ(rows.size(), 12u);
  EXPECT_NE(rows[3].find(Utf8(u"\"李四\"")), std::string::npos) << rows[3];
  EXPECT_NE(rows[1].find(Utf8(std::u16string(2000, u'简'))), std::string::npos);
  // Empty the table, then fill it again.
  {
    auto db = Open(path, u"580274");
    std::unique_ptr<mdb::Table> t;
    ASSERT_TRUE(db->OpenTable(u"用户信息表", &t).ok());
    for (auto id : ids) ASSERT_TRUE(t->Delete(id).ok());
    EXPECT_EQ(t->row_count(), 0u);
    for (int k = 0; k < 5; ++k)
      ASSERT_TRUE(t->Insert({Value(), std::u16string(u"王五"), true, Value(), mdb::Date{40000}, Value(),
                             mdb::Binary{photo_mid}},
                            nullptr, nullptr)
                      .ok());
  }
  EXPECT_CLEAN(path, u"580274");
  EXPECT_EQ(MdbExport(path, Utf8(u"用户信息表"), "-b strip").size(), 5u);
}

TEST(Create, RelationshipRefusesOrphansAndCascadesDeletes) {
  std::string path = NewDb("rel.mdb");
  auto db = Open(path, u"580274");
  std::unique_ptr<mdb::Table> users, log;
  ASSERT_TRUE(db->OpenTable(u"用户表", &users).ok());
  ASSERT_TRUE(db->OpenTable(u"操作日志", &log).ok());
  mdb::RowId second;
  int64_t second_id = 0;
  ASSERT_TRUE(users->Insert({Value(), std::u16string(u"李四"), std::u16string(u"1")}, &second, &second_id).ok());
  EXPECT_EQ(second_id, 2);
  for (int k = 0; k < 3; ++k) {
    ASSERT_TRUE(log->Insert({int64_t(1), mdb::Date{45000}, std::u16string(u"登录")}, nullptr, nullptr).ok());
    ASSERT_TRUE(log->Insert({int64_t(2), mdb::Date{45000}, std::u16string(u"添加人员")}, nullptr, nullptr).ok());
  }
  mdb::Status s = log->Insert({int64_t(99), mdb::Date{45000}, std::u16string(u"x")}, nullptr, nullptr);
  EXPECT_EQ(s.code(), mdb::Status::Code::kConstraint) << s.ToString();
  ASSERT_TRUE(users->Delete(second).ok());
  ASSERT_TRUE(db->OpenTable(u"操作日志", &log).ok());  // the cascade went through another handle
  EXPECT_EQ(log->row_count(), 3u);
  EXPECT_EQ(users->row_count(), 1u);
  // A transaction of several changes lands together or not at all.
  ASSERT_TRUE(db->Begin().ok());
  ASSERT_TRUE(log->Insert({int64_t(1), mdb::Date{45001}, std::u16string(u"a")}, nullptr, nullptr).ok());
  db->Rollback();
  db.reset();
  EXPECT_CLEAN(path, u"580274");
  EXPECT_EQ(MdbExport(path, Utf8(u"操作日志")).size(), 3u);
}

}  // namespace
