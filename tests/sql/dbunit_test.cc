// The database unit as the program calls it: GB18030 texts in and out, record
// sets by number, tagged field values.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "runtime/value.h"
#include "vorta/dbunit.h"
#include "vorta/text_codec.h"

namespace vorta {
namespace {

namespace fs = std::filesystem;

std::string Fixture(const char* name) { return std::string(USERMGR_FIXTURES_DIR) + "/" + name; }

fs::path TestDir() {
  return fs::temp_directory_path() / fs::path(u"数据单元测试-Zo\u00EB-\uD55C") /
         ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

// A copy of a fixture under a directory named in Chinese, and with letters
// outside GBK; returns its path as the program gives it.
rt::Text CopyToChineseDir(const char* name) {
  fs::path dir = TestDir();
  fs::create_directories(dir);
  fs::path to = dir / name;
  fs::copy_file(Fixture(name), to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
  std::u8string utf8 = to.u8string();
  return text::Utf8ToGb18030(std::string(utf8.begin(), utf8.end()));
}

class DatabaseUnitTest : public ::testing::Test {
 protected:
  void TearDown() override {
    db.CloseDatabase();
    std::error_code ec;
    fs::remove_all(TestDir(), ec);
  }
  DatabaseUnit db;
};

TEST_F(DatabaseUnitTest, ReadsFieldsWithTheirKinds) {
  ASSERT_TRUE(db.OpenMdb(CopyToChineseDir("mr_data_V2000_test.mdb"), "")) << db.last_error();
  int rs = db.Query("select * from Table1 where A = 'abcdefg'");
  ASSERT_GT(rs, 0) << db.last_error();
  db.MoveFirst(rs);
  ASSERT_FALSE(db.IsAfterLast(rs));
  EXPECT_EQ(db.ReadField(rs, "A"), rt::Value::FromText("abcdefg"));
  EXPECT_EQ(db.ReadField(rs, "a"), rt::Value::FromText("abcdefg"));  // any case
  EXPECT_EQ(db.ReadField(rs, "C"), rt::Value::FromInt(2));
  EXPECT_EQ(db.ReadField(rs, "E"), rt::Value::FromInt(333333333));
  EXPECT_EQ(db.ReadField(rs, "F").kind(), rt::Kind::Float);
  EXPECT_EQ(db.ReadField(rs, "G"), rt::Value::FromDate(rt::DateTime{27293}));  // 1974-09-21
  EXPECT_EQ(db.ReadField(rs, "H"), rt::Value::FromFloat(3.5));                  // currency
  EXPECT_EQ(db.ReadField(rs, "I"), rt::Value::FromBool(true));
  EXPECT_TRUE(db.ReadField(rs, "NoSuchColumn").empty());
  EXPECT_FALSE(db.last_error().empty());
  db.MoveNext(rs);
  EXPECT_TRUE(db.IsAfterLast(rs));
  EXPECT_TRUE(db.ReadField(rs, "A").empty());  // past the end
  db.CloseRecordSet(rs);
  EXPECT_TRUE(db.IsAfterLast(rs));  // unknown now
  db.CloseDatabase();
  db.CloseDatabase();  // harmless twice
  EXPECT_FALSE(db.is_open());
}

TEST_F(DatabaseUnitTest, EachRecordSetFindsItsOwnColumns) {
  ASSERT_TRUE(db.OpenMdb(CopyToChineseDir("mr_data_V2000_test.mdb"), "")) << db.last_error();
  int ac = db.Query("select A, C from Table1 where A = 'abcdefg'");
  int ca = db.Query("select C, A from Table1 where A = 'abcdefg'");
  ASSERT_GT(ac, 0) << db.last_error();
  ASSERT_GT(ca, 0) << db.last_error();
  db.MoveFirst(ac);
  db.MoveFirst(ca);
  // The same names, read in turn from both, in either spelling.
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(db.ReadField(ac, "A"), rt::Value::FromText("abcdefg"));
    EXPECT_EQ(db.ReadField(ca, "A"), rt::Value::FromText("abcdefg"));
    EXPECT_EQ(db.ReadField(ca, "c"), rt::Value::FromInt(2));
    EXPECT_EQ(db.ReadField(ac, "c"), rt::Value::FromInt(2));
    EXPECT_TRUE(db.ReadField(ac, "E").empty());  // not selected
    EXPECT_FALSE(db.last_error().empty());
  }
  db.CloseRecordSet(ac);
  int e = db.Query("select E, A from Table1 where A = 'abcdefg'");
  ASSERT_GT(e, 0) << db.last_error();
  db.MoveFirst(e);
  EXPECT_EQ(db.ReadField(e, "E"), rt::Value::FromInt(333333333));
  EXPECT_EQ(db.ReadField(e, "A"), rt::Value::FromText("abcdefg"));
  EXPECT_TRUE(db.last_error().empty());
  EXPECT_TRUE(db.ReadField(e, "C").empty());
  EXPECT_TRUE(db.ReadField(ac, "A").empty());  // closed
  db.CloseRecordSet(ca);
  db.CloseRecordSet(e);
}

TEST_F(DatabaseUnitTest, TextsCrossInGb18030) {
  ASSERT_TRUE(db.OpenMdb(CopyToChineseDir("jk_overflowTestV2000.mdb"), ""));
  ASSERT_TRUE(db.ExecuteSql("insert into Table1 (data1, data3) values ('王小明', '简介')", nullptr)) << db.last_error();
  int rs = db.Query("select * from [Table1] where [data1] = '王小明'");
  ASSERT_GT(rs, 0) << db.last_error();
  db.MoveFirst(rs);
  ASSERT_FALSE(db.IsAfterLast(rs));
  EXPECT_EQ(db.ReadField(rs, "data3"), rt::Value::FromText("简介"));
  EXPECT_TRUE(db.ReadField(rs, "data4").empty());  // NULL
  db.CloseRecordSet(rs);
  // Outside GBK: written and read back unchanged.
  const rt::Text zoe = text::Utf16ToGb18030(u"Zo\u00EB \uD55C \U0001F600");
  ASSERT_TRUE(db.ExecuteSql("insert into Table1 (data1, data3) values ('z', '" + zoe + "')", nullptr));
  rs = db.Query("select * from [Table1] where [data3] = '" + zoe + "'");
  ASSERT_GT(rs, 0) << db.last_error();
  db.MoveFirst(rs);
  ASSERT_FALSE(db.IsAfterLast(rs));
  EXPECT_EQ(db.ReadField(rs, "data3"), rt::Value::FromText(zoe));
  db.CloseRecordSet(rs);
}

TEST_F(DatabaseUnitTest, EmptyResultIsAfterLastAtOnce) {
  ASSERT_TRUE(db.OpenMdb(CopyToChineseDir("mr_data_V2000_test.mdb"), ""));
  int rs = db.Query("select * from Table1 where A = 'none'");
  ASSERT_GT(rs, 0);
  db.MoveFirst(rs);
  EXPECT_TRUE(db.IsAfterLast(rs));
  EXPECT_TRUE(db.ReadField(rs, "A").empty());
  int rs2 = db.Query("select * from Table1");
  EXPECT_NE(rs2, rs);
  db.CloseRecordSet(rs);
  db.CloseRecordSet(rs2);
}

TEST_F(DatabaseUnitTest, FailuresGiveZeroOrFalseAndAReason) {
  EXPECT_EQ(db.Query("select * from Table1"), 0);  // nothing open
  EXPECT_FALSE(db.ExecuteSql("delete from Table1", nullptr));
  EXPECT_FALSE(db.OpenMdb("/no/such/dir/access.mdb", "580274"));
  EXPECT_FALSE(db.last_error().empty());
  EXPECT_FALSE(db.OpenMdb(CopyToChineseDir("mr_password_V2000_with-password.mdb"), "wrong"));
  ASSERT_TRUE(db.OpenMdb(CopyToChineseDir("mr_password_V2000_with-password.mdb"), "password"));
  EXPECT_EQ(db.Query("select * from [不存在的表]"), 0);
  EXPECT_NE(db.last_error().find(text::Gb18030ToUtf8("不存在的表")), std::string::npos);  // UTF-8
  EXPECT_EQ(db.Query("select * from Table1 where"), 0);
  int rs = db.Query("select * from Table1");
  EXPECT_GT(rs, 0);
  EXPECT_TRUE(db.last_error().empty());
  db.CloseDatabase();
}

TEST_F(DatabaseUnitTest, ReopeningClosesTheOldRecordSets) {
  ASSERT_TRUE(db.OpenMdb(CopyToChineseDir("mr_data_V2000_test.mdb"), ""));
  int rs = db.Query("select * from Table1");
  ASSERT_GT(rs, 0);
  ASSERT_TRUE(db.OpenMdb(CopyToChineseDir("jk_indexTestV2000.mdb"), ""));
  EXPECT_TRUE(db.IsAfterLast(rs));
  EXPECT_TRUE(db.ReadField(rs, "A").empty());
}

}  // namespace
}  // namespace vorta
