// INSERT, UPDATE and DELETE on copies of real Access files: one transaction
// per statement, so a statement that fails changes nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <memory>
#include <string>
#include <vector>

#include "mdb/mdb.h"
#include "mdb/sql.h"
#include "mdb/sql_eval.h"

namespace mdb {
namespace {

namespace fs = std::filesystem;

class ChangeTest : public ::testing::Test {
 protected:
  void Open(const char* fixture) {
    // Tests run in parallel processes: each copy needs a name of its own.
    path_ = (fs::temp_directory_path() /
             ("sql_change_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
              std::to_string(std::random_device()()) + "_" + fixture))
                .string();
    fs::copy_file(std::string(USERMGR_FIXTURES_DIR) + "/" + fixture, path_, fs::copy_options::overwrite_existing);
    fs::permissions(path_, fs::perms::owner_write, fs::perm_options::add);
    Status s = Database::Open(Env::Default(), path_, OpenOptions(), &db_);
    ASSERT_TRUE(s.ok()) << s.ToString();
  }
  void TearDown() override {
    if (db_) {
      std::vector<std::string> faults;
      Status s = db_->Check(&faults);
      EXPECT_TRUE(s.ok()) << s.ToString();
      EXPECT_TRUE(faults.empty()) << faults.front();
      db_.reset();
    }
    std::error_code ec;
    if (!path_.empty()) fs::remove(path_, ec);
  }

  Status Exec(const std::u16string& sql, int64_t* rows = nullptr, const Binary* param = nullptr) {
    int64_t n = -1;
    Status s = ExecuteStatement(db_.get(), sql, param, &n);
    if (rows) *rows = n;
    return s;
  }

  std::vector<std::vector<std::u16string>> All(const std::u16string& sql) {
    std::vector<std::vector<std::u16string>> rows;
    std::unique_ptr<RecordSet> rs;
    Status s = ExecuteQuery(db_.get(), sql, &rs);
    EXPECT_TRUE(s.ok()) << s.ToString();
    if (!s.ok()) return rows;
    while (!rs->AtEnd()) {
      std::vector<std::u16string> row;
      for (size_t i = 0; i < rs->column_names().size(); ++i) {
        Value v;
        EXPECT_TRUE(rs->Get(static_cast<int>(i), &v).ok());
        row.push_back(ValueToText(v));
      }
      rows.push_back(row);
      EXPECT_TRUE(rs->MoveNext().ok());
    }
    return rows;
  }

  std::string path_;
  std::unique_ptr<Database> db_;
};

TEST_F(ChangeTest, ApostrophesDoubledAreStoredAndFound) {
  Open("jk_overflowTestV2000.mdb");
  int64_t rows = 0;
  ASSERT_TRUE(Exec(u"insert into Table1 (data1, data3) values ('O''Brien', '张三')", &rows).ok());
  EXPECT_EQ(rows, 1);
  EXPECT_EQ(All(u"select data3 from Table1 where data1 = 'o''brien'"),
            (std::vector<std::vector<std::u16string>>{{u"张三"}}));
  EXPECT_EQ(All(u"select data1 from Table1 where data1 like '%''b%'").size(), 1u);
  // Undoubled, the statement is broken and nothing is stored.
  EXPECT_EQ(Exec(u"insert into Table1 (data1, data3) values ('O'Brien', 'x')").code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(All(u"select * from Table1").size(), 8u);
}

TEST_F(ChangeTest, RowsAffectedAndWhereClauses) {
  Open("jk_overflowTestV2000.mdb");
  int64_t rows = -1;
  ASSERT_TRUE(Exec(u"update Table1 set data10 = 'seen' where data1 is null", &rows).ok());
  EXPECT_EQ(rows, 3);
  ASSERT_TRUE(Exec(u"update Table1 set data10 = data10 & '!' where data10 = 'SEEN'", &rows).ok());
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(All(u"select data10 from Table1 where data10 = 'seen!'").size(), 3u);
  ASSERT_TRUE(Exec(u"delete from Table1 where data10 like 'seen%'", &rows).ok());
  EXPECT_EQ(rows, 3);
  ASSERT_TRUE(Exec(u"delete from Table1 where data1 = 'nobody'", &rows).ok());
  EXPECT_EQ(rows, 0);
  EXPECT_EQ(All(u"select * from Table1").size(), 4u);
  ASSERT_TRUE(Exec(u"delete * from Table1", &rows).ok());
  EXPECT_EQ(rows, 4);
  EXPECT_EQ(All(u"select * from Table1").size(), 0u);
}

TEST_F(ChangeTest, ValuesOfTheWrongKindChangeNothing) {
  Open("mr_data_V2000_test.mdb");
  auto before = All(u"select * from Table1 order by A");
  // A text that is no date, into a date column.
  EXPECT_EQ(Exec(u"update Table1 set G = 'soon' where A = 'a'").code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(Exec(u"update Table1 set G = '1990-02-30' where A = 'a'").code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(Exec(u"update Table1 set I = 'maybe'").code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(Exec(u"update Table1 set E = 'many'").code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(Exec(u"update Table1 set C = 256").code(), Status::Code::kInvalidArgument);  // a byte
  // Fails on one row after succeeding on the other: the first change is undone.
  EXPECT_FALSE(Exec(u"update Table1 set C = 300 - C * 100").ok());
  EXPECT_EQ(Exec(u"update Table1 set Nope = 1").code(), Status::Code::kNotFound);
  EXPECT_EQ(Exec(u"update NoTable set A = 'x'").code(), Status::Code::kNotFound);
  EXPECT_EQ(Exec(u"insert into Table1 (A, A) values ('x', 'y')").code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(Exec(u"insert into Table1 (A, B) values ('x')").code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(Exec(u"insert into Table1 (A) values (?)").code(), Status::Code::kInvalidArgument);  // no byte block
  EXPECT_EQ(Exec(u"select * from Table1").code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(All(u"select * from Table1 order by A"), before);
}

TEST_F(ChangeTest, DateTextsAndInclusiveBounds) {
  Open("mr_data_V2000_test.mdb");
  // Row 'abcdefg' keeps its 1974-09-21; row 'a' gets dates as texts.
  ASSERT_TRUE(Exec(u"update Table1 set G = '1990/5/7', I = 'true', H = '12.25' where A = 'a'").ok());
  EXPECT_EQ(All(u"select G, I, H from Table1 where A = 'a'"),
            (std::vector<std::vector<std::u16string>>{{u"1990-05-07", u"True", u"12.25"}}));
  ASSERT_TRUE(Exec(u"update Table1 set G = '2001-12-23 14:05:09' where A = 'a'").ok());
  auto names = [&](const char16_t* from, const char16_t* to) {
    std::vector<std::u16string> out;
    for (auto& r : All(std::u16string(u"select A from Table1 where G between #") + from + u"# and #" + to +
                       u"# order by A"))
      out.push_back(r[0]);
    return out;
  };
  EXPECT_EQ(names(u"1974-9-21 0:0:0", u"2001-12-23 14:5:9"), (std::vector<std::u16string>{u"a", u"abcdefg"}));
  EXPECT_EQ(names(u"1974-9-21 0:0:1", u"2001-12-23 14:5:9"), (std::vector<std::u16string>{u"a"}));
  EXPECT_EQ(names(u"1974-9-21 0:0:0", u"2001-12-23 14:5:8"), (std::vector<std::u16string>{u"abcdefg"}));
  EXPECT_EQ(names(u"2001-12-23 14:5:9", u"1974-9-21 0:0:0"), (std::vector<std::u16string>{}));
  EXPECT_EQ(All(u"select A from Table1 where G = '2001/12/23 14:05:09'").size(), 1u);
}

TEST_F(ChangeTest, RelationshipsAreKept) {
  Open("jk_indexTestV2000.mdb");
  auto before = All(u"select * from Table1");
  Status s = Exec(u"insert into Table1 (id, otherfk1, otherfk2, data, otherfk3) values (100, 99, 99, 'x', 0)");
  EXPECT_EQ(s.code(), Status::Code::kConstraint) << s.ToString();
  EXPECT_EQ(All(u"select * from Table1"), before);
  // The catalog, permissions and relationships are read, never changed.
  auto aces = All(u"select * from MSysACEs");
  auto rels = All(u"select * from msysrelationships");
  ASSERT_FALSE(aces.empty());
  for (const char16_t* sql : {u"delete from MSysACEs", u"update msysobjects set Flags = 0",
                              u"delete from MSysRelationships where grbit = 4096",
                              u"insert into MSysQueries (ObjectId, Attribute) values (1, 1)",
                              u"update MSysAccessObjects set ID = 1"}) {
    s = Exec(sql);
    EXPECT_EQ(s.code(), Status::Code::kNotSupported) << s.ToString();
    EXPECT_NE(s.message().find("is a system table"), std::string::npos) << s.ToString();
  }
  EXPECT_EQ(All(u"select * from MSysACEs"), aces);
  EXPECT_EQ(All(u"select * from msysrelationships"), rels);
}

TEST_F(ChangeTest, NowFillsTheClock) {
  Open("mr_data_V2000_test.mdb");
  ASSERT_TRUE(Exec(u"update Table1 set G = now() where A = 'a'").ok());
  EXPECT_EQ(All(u"select A from Table1 where G > #2020-1-1# and G <= now()").size(), 1u);
  ASSERT_TRUE(Exec(u"update Table1 set G = date() where A = 'a'").ok());
  EXPECT_EQ(All(u"select A from Table1 where G = date()").size(), 1u);
}

}  // namespace
}  // namespace mdb
