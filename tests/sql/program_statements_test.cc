// Every statement the program sends, as it sends it (GBK, double spaces
// included), through the database unit against a new file made by
// Database::Create; and the edge cases of searching and of the statistics.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mdb/mdb.h"
#include "mdb/oadate.h"
#include "runtime/value.h"
#include "vorta/dbunit.h"
#include "vorta/text_codec.h"

namespace vorta {
namespace {

namespace fs = std::filesystem;

const rt::Text kPersons = "select * from [用户信息表]";

class ProgramStatements : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / fs::path(u"程序语句") /
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    std::u8string utf8 = (dir_ / "access.mdb").u8string();
    std::string path(utf8.begin(), utf8.end());
    mdb::CreateOptions options;
    options.password = u"580274";
    mdb::Status s = mdb::Database::Create(mdb::Env::Default(), path, options);
    ASSERT_TRUE(s.ok()) << s.ToString();
    ASSERT_TRUE(db_.OpenMdb(text::Utf8ToGb18030(path), "580274")) << db_.last_error();
  }
  void TearDown() override {
    db_.CloseDatabase();
    fs::remove_all(dir_);
  }

  // Rows of a query; each row the named fields' values.
  std::vector<std::vector<rt::Value>> Rows(const rt::Text& sql, const std::vector<rt::Text>& fields) {
    std::vector<std::vector<rt::Value>> rows;
    int rs = db_.Query(sql);
    EXPECT_GT(rs, 0) << db_.last_error();
    if (rs == 0) return rows;
    db_.MoveFirst(rs);
    while (!db_.IsAfterLast(rs)) {
      std::vector<rt::Value> row;
      for (const auto& f : fields) row.push_back(db_.ReadField(rs, f));
      rows.push_back(row);
      db_.MoveNext(rs);
    }
    db_.CloseRecordSet(rs);
    return rows;
  }
  std::vector<rt::Text> Names(const rt::Text& sql) {
    std::vector<rt::Text> names;
    for (auto& r : Rows(sql, {"姓名"})) names.push_back(r[0].empty() ? "<null>" : r[0].text());
    return names;
  }

  // The add-person statement, piece by piece as the program builds it.
  bool AddPerson(const rt::Text& name, bool male, const rt::Text& profile, const rt::Text& date,
                 rt::Bytes photo = "") {
    rt::Text sql = "insert into [用户信息表] ([姓名],[性别],[个人简介],[出生日期],[添加者],[照片]) values ('" + name +
                   "'," + (male ? "true" : "false") + ",'" + profile + "','" + date + "','张三',?)";
    return db_.ExecuteSql(sql, &photo);
  }

  int64_t IdOf(const rt::Text& name) {
    auto rows = Rows("select * from [用户信息表] where [姓名]='" + name + "'", {"ID"});
    EXPECT_EQ(rows.size(), 1u);
    return rows.empty() ? -1 : rows[0][0].integer();
  }

  static rt::DateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return rt::DateTime{mdb::CivilToOa(mdb::CivilTime{y, mo, d, h, mi, s})};
  }

  fs::path dir_;
  DatabaseUnit db_;
};

TEST_F(ProgramStatements, LoginLookupAndLogRow) {
  auto users = Rows("select * from [用户表] where [用户名]='张三'", {"ID", "用户名", "密码"});
  ASSERT_EQ(users.size(), 1u);
  ASSERT_EQ(users[0][0].kind(), rt::Kind::Integer);
  EXPECT_EQ(users[0][1], rt::Value::FromText("张三"));
  EXPECT_EQ(users[0][2], rt::Value::FromText("580274"));
  const rt::Text id = std::to_string(users[0][0].integer());

  EXPECT_TRUE(Rows("select * from [用户表] where [用户名]='李四'", {"ID"}).empty());
  // An empty account row read past the end gives an empty value, not a crash.
  int rs = db_.Query("select * from [用户表] where [用户名]='无此人'");
  ASSERT_GT(rs, 0);
  db_.MoveFirst(rs);
  EXPECT_TRUE(db_.IsAfterLast(rs));
  EXPECT_TRUE(db_.ReadField(rs, "密码").empty());
  db_.CloseRecordSet(rs);

  double before = mdb::NowOa();
  ASSERT_TRUE(db_.ExecuteSql("insert into [操作日志] ([用户ID],[操作时间],[事件说明]) values (" + id +
                                 ",now(),'用户登录')",
                             nullptr))
      << db_.last_error();
  auto log = Rows("select * from [操作日志]", {"用户ID", "操作时间", "事件说明"});
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0][0], users[0][0]);
  ASSERT_EQ(log[0][1].kind(), rt::Kind::DateTime);
  EXPECT_NEAR(log[0][1].date().oa, before, 2.0 / 86400);
  EXPECT_EQ(log[0][2], rt::Value::FromText("用户登录"));
}

TEST_F(ProgramStatements, AddSelectModifyDeletePerson) {
  rt::Bytes photo("\x89PNG\r\n\x1a\n\0\0binary\xff", 17);
  ASSERT_TRUE(AddPerson("李四", true, "第一行\r\n第二行", "1990-05-07", photo)) << db_.last_error();
  auto rows = Rows(kPersons, {"ID", "姓名", "性别", "出生日期", "个人简介", "添加者", "照片"});
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_EQ(rows[0][0].kind(), rt::Kind::Integer);
  EXPECT_EQ(rows[0][1], rt::Value::FromText("李四"));
  EXPECT_EQ(rows[0][2], rt::Value::FromBool(true));
  EXPECT_EQ(rows[0][3], rt::Value::FromDate(At(1990, 5, 7)));
  EXPECT_EQ(rows[0][4], rt::Value::FromText("第一行\r\n第二行"));
  EXPECT_EQ(rows[0][5], rt::Value::FromText("张三"));
  EXPECT_EQ(rows[0][6], rt::Value::FromBytes(photo));
  const rt::Text id = std::to_string(rows[0][0].integer());

  auto one = Rows("select * from [用户信息表] where [ID]=" + id, {"姓名"});
  ASSERT_EQ(one.size(), 1u);
  EXPECT_TRUE(Rows("select * from [用户信息表] where [ID]=" + id + "0", {"姓名"}).empty());
  EXPECT_TRUE(Rows("select * from [用户信息表] where [ID]=" + id + ".5", {"姓名"}).empty());
  EXPECT_EQ(Rows("select * from [用户信息表] where [ID]=" + id + ".0", {"姓名"}).size(), 1u);
  EXPECT_EQ(Rows("select * from [用户信息表] where [ID]='" + id + "' and [性别]=true", {"姓名"}).size(), 1u);

  rt::Bytes empty;
  rt::Text update = "update  [用户信息表] set [姓名]='王五',[性别]=false,[个人简介]='',[出生日期]='2001-12-23 14:05:09',"
                    "[添加者]='管理员',[照片]=? where [ID]=" + id;
  ASSERT_TRUE(db_.ExecuteSql(update, &empty)) << db_.last_error();
  rows = Rows(kPersons, {"ID", "姓名", "性别", "出生日期", "个人简介", "添加者", "照片"});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(std::to_string(rows[0][0].integer()), id);
  EXPECT_EQ(rows[0][1], rt::Value::FromText("王五"));
  EXPECT_EQ(rows[0][2], rt::Value::FromBool(false));
  EXPECT_EQ(rows[0][3], rt::Value::FromDate(At(2001, 12, 23, 14, 5, 9)));
  EXPECT_TRUE(rows[0][4] == rt::Value::FromText("") || rows[0][4].empty());
  EXPECT_TRUE(rows[0][6] == rt::Value::FromBytes("") || rows[0][6].empty());

  ASSERT_TRUE(db_.ExecuteSql("delete from [用户信息表]  where  [ID]=" + id, nullptr)) << db_.last_error();
  EXPECT_TRUE(Rows(kPersons, {"ID"}).empty());
  // Deleting a row that is not there changes nothing and is no failure.
  EXPECT_TRUE(db_.ExecuteSql("delete from [用户信息表]  where  [ID]=" + id, nullptr));
  EXPECT_TRUE(db_.ExecuteSql("delete from [用户信息表]  where  [ID]=0", nullptr));
}

TEST_F(ProgramStatements, DateTextsInTheFormsUsersType) {
  ASSERT_TRUE(AddPerson("a", true, "", "1990/5/7"));
  ASSERT_TRUE(AddPerson("b", true, "", "1990-5-7 8:30"));
  ASSERT_TRUE(AddPerson("c", true, "", "2001-12-23 14:05:09"));
  auto rows = Rows("select * from [用户信息表] order by [姓名]", {"出生日期"});
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][0], rt::Value::FromDate(At(1990, 5, 7)));
  EXPECT_EQ(rows[1][0], rt::Value::FromDate(At(1990, 5, 7, 8, 30)));
  EXPECT_EQ(rows[2][0], rt::Value::FromDate(At(2001, 12, 23, 14, 5, 9)));
  // Not a date: refused, nothing stored.
  EXPECT_FALSE(AddPerson("d", true, "", "明天"));
  EXPECT_FALSE(AddPerson("d", true, "", "1990-02-30"));
  EXPECT_FALSE(AddPerson("d", true, "", ""));
  EXPECT_EQ(Rows(kPersons, {"ID"}).size(), 3u);
}

TEST_F(ProgramStatements, ApostrophesBreakTheStatementAndChangeNothing) {
  ASSERT_TRUE(AddPerson("O''Brien", true, "it''s", "1990-05-07"));
  EXPECT_EQ(Names("select * from [用户信息表] where [姓名]='O''Brien'"), std::vector<rt::Text>{"O'Brien"});
  EXPECT_EQ(Names("select * from [用户信息表] where [姓名]='o''brien'"), std::vector<rt::Text>{"O'Brien"});

  EXPECT_FALSE(AddPerson("D'Arcy", true, "", "1990-05-07"));
  EXPECT_FALSE(db_.last_error().empty());
  EXPECT_EQ(db_.Query("select * from [用户信息表] where [姓名]='D'Arcy'"), 0);
  EXPECT_EQ(db_.Query("select * from [用户信息表] where [姓名] like '%D'Arcy%'"), 0);
  const rt::Text id = std::to_string(IdOf("O''Brien"));
  rt::Bytes photo = "x";
  EXPECT_FALSE(db_.ExecuteSql("update  [用户信息表] set [姓名]='D'Arcy',[性别]=false,[个人简介]='',[出生日期]='2001-12-23',"
                              "[添加者]='张三',[照片]=? where [ID]=" + id,
                              &photo));
  auto rows = Rows(kPersons, {"姓名", "个人简介", "照片"});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], rt::Value::FromText("O'Brien"));
  EXPECT_EQ(rows[0][1], rt::Value::FromText("it's"));
}

TEST_F(ProgramStatements, ExactAndFuzzySearch) {
  ASSERT_TRUE(AddPerson("张三", true, "", "1990-05-07"));
  ASSERT_TRUE(AddPerson("张三丰", true, "", "1990-05-07"));
  ASSERT_TRUE(AddPerson("", false, "", "1990-05-07"));
  ASSERT_TRUE(AddPerson("Alice", false, "", "1990-05-07"));
  ASSERT_TRUE(AddPerson("100%", false, "", "1990-05-07"));
  ASSERT_TRUE(db_.ExecuteSql("insert into [用户信息表] ([性别]) values (false)", nullptr)) << db_.last_error();
  ASSERT_EQ(Rows(kPersons, {"ID"}).size(), 6u);

  auto exact = [&](const rt::Text& key) { return Names("select * from [用户信息表] where [姓名]='" + key + "'"); };
  auto fuzzy = [&](const rt::Text& key) {
    return Names("select * from [用户信息表] where [姓名] like '%" + key + "%'");
  };
  // Exact, empty key: only the person whose name is the empty text.
  EXPECT_EQ(exact(""), std::vector<rt::Text>{""});
  EXPECT_EQ(exact("张三"), std::vector<rt::Text>{"张三"});
  EXPECT_EQ(exact("ALICE"), std::vector<rt::Text>{"Alice"});
  EXPECT_TRUE(exact("张").empty());
  // Fuzzy, empty key ('%%'): everyone whose name is not null.
  EXPECT_EQ(fuzzy("").size(), 5u);
  EXPECT_EQ(fuzzy("张三"), (std::vector<rt::Text>{"张三", "张三丰"}));
  EXPECT_EQ(fuzzy("lic"), std::vector<rt::Text>{"Alice"});
  // A "%" in the key is a wildcard like the two around it.
  EXPECT_EQ(fuzzy("%").size(), 5u);
  EXPECT_EQ(fuzzy("1%%"), std::vector<rt::Text>{"100%"});
  EXPECT_EQ(fuzzy("张%丰"), std::vector<rt::Text>{"张三丰"});
  EXPECT_EQ(fuzzy("_三"), (std::vector<rt::Text>{"张三", "张三丰"}));
}

TEST_F(ProgramStatements, StatisticsRangeAndOrder) {
  ASSERT_TRUE(AddPerson("赵六", true, "1", "1980-01-01"));
  ASSERT_TRUE(AddPerson("张三", true, "first", "1985-06-15 12:00:00"));
  ASSERT_TRUE(AddPerson("阿明", true, "", "1989-12-31"));
  ASSERT_TRUE(AddPerson("李四", false, "", "1979-12-31 23:59:59"));
  ASSERT_TRUE(AddPerson("张三", false, "second", "1986-01-01"));
  ASSERT_TRUE(AddPerson("bob", false, "", "1988-01-01"));
  ASSERT_TRUE(AddPerson("Bob", false, "", "1988-01-02"));
  ASSERT_TRUE(AddPerson("王五", false, "", "1990-01-01"));
  auto range = [&](const rt::Text& from, const rt::Text& to) {
    return Rows("select * from [用户信息表] where [出生日期] between #" + from + "# and #" + to +
                    "# order by [姓名] asc",
                {"姓名", "个人简介"});
  };
  auto rows = range("1980-1-1 0:0:0", "1989-12-31 0:0:0");
  std::vector<rt::Text> names, profiles;
  for (auto& r : rows) names.push_back(r[0].text()), profiles.push_back(r[1].text());
  // As the file's sort order (General, as Database::Create makes it) orders
  // its index keys: Latin without regard to case (equal keys in storage
  // order), then ideographs in General's order (by code: 张 U+5F20, 赵
  // U+8D75, 阿 U+963F). A Chinese PRC file orders them by pinyin.
  EXPECT_EQ(names, (std::vector<rt::Text>{"bob", "Bob", "张三", "张三", "赵六", "阿明"}));
  EXPECT_EQ(profiles[2], "first");
  EXPECT_EQ(profiles[3], "second");
  // Inclusive to the second, at both ends.
  EXPECT_EQ(range("1979-12-31 23:59:59", "1979-12-31 23:59:59").size(), 1u);
  EXPECT_EQ(range("1985-6-15 12:0:1", "1985-6-15 12:0:0").size(), 0u);
  EXPECT_EQ(range("1985-6-15 12:0:0", "1985-6-15 12:0:0").size(), 1u);
  EXPECT_EQ(range("1980-1-1 0:0:1", "1989-12-30 23:59:59").size(), 4u);
  // Bounds in the wrong order: nothing, and no failure.
  EXPECT_EQ(range("1989-12-31 0:0:0", "1980-1-1 0:0:0").size(), 0u);
}

TEST_F(ProgramStatements, AdministratorsAndCascadingLogDelete) {
  ASSERT_TRUE(db_.ExecuteSql("insert into [用户表] ([用户名],[密码]) values ('管理员','Secret')", nullptr)) << db_.last_error();
  auto users = Rows("select * from [用户表]", {"ID", "用户名", "密码"});
  ASSERT_EQ(users.size(), 2u);
  EXPECT_EQ(users[1][1], rt::Value::FromText("管理员"));
  const rt::Text first = std::to_string(users[0][0].integer());
  const rt::Text second = std::to_string(users[1][0].integer());
  for (const rt::Text& id : {first, first, second})
    ASSERT_TRUE(db_.ExecuteSql("insert into [操作日志] ([用户ID],[操作时间],[事件说明]) values (" + id +
                                   ",now(),'添加人员')",
                               nullptr));
  // A log row for an account that does not exist breaks the relationship.
  EXPECT_FALSE(db_.ExecuteSql("insert into [操作日志] ([用户ID],[操作时间],[事件说明]) values (999,now(),'x')", nullptr));
  EXPECT_EQ(Rows("select * from [操作日志]", {"用户ID"}).size(), 3u);

  ASSERT_TRUE(db_.ExecuteSql("delete from [用户表]  where  [ID]=" + first, nullptr)) << db_.last_error();
  auto log = Rows("select * from [操作日志]", {"用户ID"});
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(std::to_string(log[0][0].integer()), second);
  users = Rows("select * from [用户表]", {"用户名"});
  ASSERT_EQ(users.size(), 1u);
  EXPECT_EQ(users[0][0], rt::Value::FromText("管理员"));
}

TEST_F(ProgramStatements, BrokenStatementsChangeNothing) {
  ASSERT_TRUE(AddPerson("张三", true, "x", "1990-05-07"));
  const rt::Text id = std::to_string(IdOf("张三"));
  rt::Bytes photo = "p";
  for (const rt::Text& bad : {
           rt::Text("update  [用户信息表] set [姓名]='李四',[出生日期]='不是日期',[照片]=? where [ID]=") + id,
           rt::Text("update  [用户信息表] set [姓名]='李四',[性别]='也许',[照片]=? where [ID]=") + id,
           rt::Text("update  [用户信息表] set [姓名]='李四',[不存在]=1,[照片]=? where [ID]=") + id,
           rt::Text("update  [用户信息表] set [姓名]='") + std::string(51, 'x') + "',[照片]=? where [ID]=" + id,
           rt::Text("update  [不存在的表] set [姓名]='李四',[照片]=? where [ID]=") + id,
           rt::Text("update  [用户信息表] set [ID]=[ID]+1,[照片]=? where [ID]=") + id + " or [ID]=" + id + "+1",
       }) {
    EXPECT_FALSE(db_.ExecuteSql(bad, &photo)) << bad.size();
    EXPECT_FALSE(db_.last_error().empty());
  }
  auto rows = Rows(kPersons, {"姓名", "照片", "个人简介"});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], rt::Value::FromText("张三"));
  EXPECT_EQ(rows[0][2], rt::Value::FromText("x"));
  // A statement with "?" but no byte block fails rather than storing nothing.
  EXPECT_FALSE(db_.ExecuteSql("update  [用户信息表] set [照片]=? where [ID]=" + id, nullptr));
}

}  // namespace
}  // namespace vorta

namespace vorta {
namespace {

TEST_F(ProgramStatements, ChangeWhileARecordSetIsOpen) {
  ASSERT_TRUE(AddPerson("张三", true, "x", "1990-05-07"));
  int rs = db_.Query(kPersons);
  ASSERT_GT(rs, 0);
  db_.MoveFirst(rs);
  ASSERT_FALSE(db_.IsAfterLast(rs));
  // The open record set keeps its reading; the change goes through.
  EXPECT_TRUE(AddPerson("李四", true, "y", "1990-05-08")) << db_.last_error();
  EXPECT_EQ(db_.ReadField(rs, "姓名"), rt::Value::FromText("张三"));
  db_.CloseRecordSet(rs);
  EXPECT_EQ(Rows(kPersons, {"ID"}).size(), 2u);
}

}  // namespace
}  // namespace vorta
