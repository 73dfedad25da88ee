// SELECT on real Access files: filters, ordering, the kinds of values and the
// failures a user can cause.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "mdb/mdb.h"
#include "mdb/sql.h"
#include "mdb/sql_eval.h"

namespace mdb {
namespace {

std::string Fixture(const char* name) { return std::string(USERMGR_FIXTURES_DIR) + "/" + name; }

std::unique_ptr<Database> OpenFixture(const char* name, std::u16string password = u"") {
  OpenOptions o;
  o.read_only = true;
  o.password = password;
  std::unique_ptr<Database> db;
  Status s = Database::Open(Env::Default(), Fixture(name), o, &db);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return db;
}

// Every row of the result, each field as text.
std::vector<std::vector<std::u16string>> All(Database* db, const std::u16string& sql) {
  std::vector<std::vector<std::u16string>> rows;
  std::unique_ptr<RecordSet> rs;
  Status s = ExecuteQuery(db, sql, &rs);
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

std::vector<std::u16string> Column0(Database* db, const std::u16string& sql) {
  std::vector<std::u16string> out;
  for (auto& r : All(db, sql)) out.push_back(r.at(0));
  return out;
}

Status QueryStatus(Database* db, const std::u16string& sql) {
  std::unique_ptr<RecordSet> rs;
  return ExecuteQuery(db, sql, &rs);
}

TEST(Select, ColumnsAndKinds) {
  auto db = OpenFixture("mr_data_V2000_test.mdb");
  std::unique_ptr<RecordSet> rs;
  ASSERT_TRUE(ExecuteQuery(db.get(), u"select * from Table1 where A='abcdefg'", &rs).ok());
  ASSERT_EQ(rs->column_names().size(), 9u);
  EXPECT_EQ(rs->ColumnIndex(u"g"), 6);  // case-insensitive
  EXPECT_EQ(rs->ColumnIndex(u"nope"), -1);
  ASSERT_FALSE(rs->AtEnd());
  Value v;
  ASSERT_TRUE(rs->Get(6, &v).ok());
  ASSERT_TRUE(std::holds_alternative<Date>(v));
  EXPECT_EQ(ValueToText(v), u"1974-09-21");
  ASSERT_TRUE(rs->Get(8, &v).ok());
  EXPECT_EQ(v, Value(true));
  ASSERT_TRUE(rs->Get(7, &v).ok());
  EXPECT_EQ(v, Value(Money{35000}));
  ASSERT_TRUE(rs->MoveNext().ok());
  EXPECT_TRUE(rs->AtEnd());
  EXPECT_FALSE(rs->Get(0, &v).ok());  // past the end
  // MoveFirst starts over.
  ASSERT_TRUE(rs->MoveFirst().ok());
  EXPECT_FALSE(rs->AtEnd());

  auto rows = All(db.get(), u"select [A], b as bee, C+D, a & '!' from Table1 order by a");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (std::vector<std::u16string>{u"a", u"b", u"0", u"a!"}));
  EXPECT_EQ(rows[1], (std::vector<std::u16string>{u"abcdefg", u"hijklmnop", u"224", u"abcdefg!"}));
}

TEST(Select, TextComparisonIgnoresCase) {
  auto db = OpenFixture("mr_data_V2000_test.mdb");
  EXPECT_EQ(Column0(db.get(), u"select A from Table1 where A='ABCDEFG'"), std::vector<std::u16string>{u"abcdefg"});
  EXPECT_EQ(Column0(db.get(), u"select A from Table1 where B like '%JKL%'"), std::vector<std::u16string>{u"abcdefg"});
  EXPECT_EQ(Column0(db.get(), u"select A from Table1 where A like 'A'"), std::vector<std::u16string>{u"a"});
  EXPECT_EQ(Column0(db.get(), u"select A from Table1 where A > 'B'").size(), 0u);
  EXPECT_EQ(Column0(db.get(), u"select A from Table1 where A in ('X', 'A')"), std::vector<std::u16string>{u"a"});
}

TEST(Select, NumbersYesNoAndDates) {
  auto db = OpenFixture("mr_data_V2000_test.mdb");
  auto q = [&](const char16_t* where) {
    return Column0(db.get(), std::u16string(u"select A from Table1 where ") + where + u" order by A");
  };
  EXPECT_EQ(q(u"E = 333333333"), std::vector<std::u16string>{u"abcdefg"});
  EXPECT_EQ(q(u"F > 444.5 and F < 444.6"), std::vector<std::u16string>{u"abcdefg"});
  EXPECT_EQ(q(u"H = 3.5"), std::vector<std::u16string>{u"abcdefg"});
  EXPECT_EQ(q(u"I = true"), std::vector<std::u16string>{u"abcdefg"});
  EXPECT_EQ(q(u"I = 'no'"), std::vector<std::u16string>{u"a"});
  EXPECT_EQ(q(u"I = yes or C = 0").size(), 2u);
  EXPECT_EQ(q(u"G = #1974-9-21#"), std::vector<std::u16string>{u"abcdefg"});
  EXPECT_EQ(q(u"G = #9/21/1974#"), std::vector<std::u16string>{u"abcdefg"});
  EXPECT_EQ(q(u"G = '1974/9/21'"), std::vector<std::u16string>{u"abcdefg"});
  EXPECT_EQ(q(u"G = '1974-09-21 00:00:00'"), std::vector<std::u16string>{u"abcdefg"});
  EXPECT_EQ(q(u"G between #1974-9-21 0:0:0# and #1981-12-12 0:0:0#").size(), 2u);  // both bounds inclusive
  EXPECT_EQ(q(u"G between #1974-9-21 0:0:1# and #1981-12-12 0:0:0#"), std::vector<std::u16string>{u"a"});
  EXPECT_EQ(q(u"G between #1974-9-21 0:0:0# and #1981-12-11 23:59:59#"), std::vector<std::u16string>{u"abcdefg"});
  EXPECT_EQ(q(u"G between #1981-12-12 0:0:0# and #1974-9-21 0:0:0#").size(), 0u);  // not swapped
  EXPECT_EQ(q(u"G not between #1975-1-1# and #2000-1-1#"), std::vector<std::u16string>{u"abcdefg"});
  EXPECT_EQ(q(u"G < now() and G < date()").size(), 2u);
  EXPECT_EQ(q(u"A is null").size(), 0u);
  EXPECT_EQ(q(u"A is not null and not (C = 2)"), std::vector<std::u16string>{u"a"});
  EXPECT_EQ(q(u"C * 2 + 1 = 5 and D \\ 100 = 2 and D mod 100 = 22"), std::vector<std::u16string>{u"abcdefg"});
}

// Conditions on literals alone are worked out once, with the results and
// failures a condition worked out on each row gives.
TEST(Select, ConditionsOnLiteralsAlone) {
  auto db = OpenFixture("mr_data_V2000_test.mdb");
  auto q = [&](const std::u16string& where) { return Column0(db.get(), u"select A from Table1 where " + where); };
  EXPECT_EQ(q(u"1=0").size(), 0u);
  EXPECT_EQ(q(u"1=1").size(), 2u);
  EXPECT_EQ(q(u"null = 1").size(), 0u);
  EXPECT_EQ(q(u"not (1 > 2) and 2 * 3 = 6").size(), 2u);
  EXPECT_EQ(q(u"1=0 or A='abcdefg'"), std::vector<std::u16string>{u"abcdefg"});
  EXPECT_EQ(q(u"1=1 and A='abcdefg'"), std::vector<std::u16string>{u"abcdefg"});
  EXPECT_EQ(q(u"'a' = 'A'").size(), 2u);  // texts compare without regard to case
  // A failing one still fails the statement, on its first row.
  EXPECT_EQ(QueryStatus(db.get(), u"select * from Table1 where 1/0 = 1").code(), Status::Code::kInvalidArgument);
}

// PeekRow gives what Peek gives, column by column: table columns,
// expressions, columns left out, and columns some of which were peeked
// first; sorted results (rows fetched by id) too.
TEST(Select, PeekRowAgreesWithPeek) {
  auto db = OpenFixture("mr_data_V2000_test.mdb");
  for (const char16_t* sql : {u"select *, C * 2 as twice from Table1", u"select *, C * 2 as twice from Table1 order by A desc"}) {
    std::unique_ptr<RecordSet> rs;
    ASSERT_TRUE(ExecuteQuery(db.get(), sql, &rs).ok());
    const size_t n = rs->column_names().size();
    ASSERT_EQ(n, 10u);
    std::vector<uint8_t> wanted(n, 1);
    wanted[3] = 0;  // left out: its pointer stays as it was
    int rows = 0;
    for (; !rs->AtEnd(); ++rows) {
      const Value* first = nullptr;
      if (rows % 2) {
        ASSERT_TRUE(rs->Peek(5, &first).ok());  // one already read
      }
      std::vector<const Value*> got(n, nullptr);
      ASSERT_TRUE(rs->PeekRow(wanted.data(), got.data()).ok());
      EXPECT_EQ(got[3], nullptr);
      for (size_t i = 0; i < n; ++i) {
        if (!wanted[i]) continue;
        ASSERT_NE(got[i], nullptr) << i;
        Value one;
        ASSERT_TRUE(rs->Get(static_cast<int>(i), &one).ok());
        EXPECT_EQ(*got[i], one) << "column " << i << " row " << rows;
      }
      if (first) {
        EXPECT_EQ(got[5], first);
      }
      ASSERT_TRUE(rs->MoveNext().ok());
    }
    EXPECT_EQ(rows, 2);
    std::vector<const Value*> got(n, nullptr);
    EXPECT_TRUE(rs->PeekRow(wanted.data(), got.data()).IsNotFound());  // past the end
  }
}

TEST(Select, NullNeverMatchesAComparison) {
  auto db = OpenFixture("jk_overflowTestV2000.mdb");
  // data1 is empty in three of seven rows.
  EXPECT_EQ(Column0(db.get(), u"select data1 from Table1 where data1 like '%%'").size(), 4u);
  EXPECT_EQ(Column0(db.get(), u"select data1 from Table1 where data1 <> 'x'").size(), 4u);
  EXPECT_EQ(Column0(db.get(), u"select data1 from Table1 where data1 is null").size(), 3u);
  EXPECT_EQ(Column0(db.get(), u"select data1 from Table1 where not data1 = 'x'").size(), 4u);
  EXPECT_EQ(Column0(db.get(), u"select data3 from Table1 where data1 is null order by data3 desc"),
            (std::vector<std::u16string>{u"row6col2", u"row5col2", u"row3col3"}));
}

TEST(Select, OrderingKeepsStorageOrderForEqualKeys) {
  auto db = OpenFixture("jk_compIndexTestV2000.mdb");
  auto plain = All(db.get(), u"select CD_AGENTE, DC_AGENTE from Table1");
  ASSERT_EQ(plain.size(), 512u);
  auto ordered = All(db.get(), u"select CD_AGENTE, DC_AGENTE from Table1 order by RS_AGENTE asc");
  EXPECT_EQ(ordered, plain);  // every RS_AGENTE is "abc"
  auto by_dc = All(db.get(), u"select CD_AGENTE, DC_AGENTE from Table1 order by DC_AGENTE, CD_AGENTE desc");
  ASSERT_EQ(by_dc.size(), 512u);
  EXPECT_EQ(by_dc.front()[1], u"ddd");
  EXPECT_EQ(by_dc.back()[1], u"efg");
  for (size_t i = 2; i + 1 < by_dc.size(); ++i)
    EXPECT_GT(std::stoll(std::string(by_dc[i - 1][0].begin(), by_dc[i - 1][0].end())),
              std::stoll(std::string(by_dc[i][0].begin(), by_dc[i][0].end())));
  EXPECT_EQ(Column0(db.get(), u"select top 3 CD_AGENTE from Table1 order by CD_AGENTE").size(), 3u);
  EXPECT_EQ(All(db.get(), u"select * from Table1 where CD_AGENTE = 19").size(), 1u);
}

TEST(Select, OtherScripts) {
  auto db = OpenFixture("jk_testUnicodeCompV2003.mdb");
  EXPECT_EQ(Column0(db.get(), u"select ID from [Table] where [Unicode] = 'МИР'"), std::vector<std::u16string>{u"3"});
  EXPECT_EQ(Column0(db.get(), u"select ID from [Table] where [Unicode] like '%交じり%'"),
            std::vector<std::u16string>{u"5"});
  EXPECT_EQ(Column0(db.get(), u"select ID from [Table] where [Unicode] like '%\u00C4\u00C4K%'"),
            std::vector<std::u16string>{u"2"});
  EXPECT_EQ(Column0(db.get(), u"select ID from [Table] order by [Unicode]").size(), 8u);
}

TEST(Select, PasswordFile) {
  auto db = OpenFixture("mr_password_V2000_with-password.mdb", u"password");
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(All(db.get(), u"select * from Table1").size(), 3u);
}

TEST(Select, FailuresAreReported) {
  auto db = OpenFixture("mr_data_V2000_test.mdb");
  EXPECT_TRUE(QueryStatus(db.get(), u"select * from NoSuchTable").IsNotFound());
  EXPECT_TRUE(QueryStatus(db.get(), u"select Nope from Table1").IsNotFound());
  EXPECT_TRUE(QueryStatus(db.get(), u"select * from Table1 where Nope = 1").IsNotFound());
  EXPECT_TRUE(QueryStatus(db.get(), u"select * from Table1 order by Nope").IsNotFound());
  EXPECT_TRUE(QueryStatus(db.get(), u"select * from Table1 where X.A = 1").IsNotFound());
  EXPECT_EQ(QueryStatus(db.get(), u"select * from Table1 where A = 'x''").code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(QueryStatus(db.get(), u"select * from Table1 where G = 'not a date'").code(),
            Status::Code::kInvalidArgument);
  EXPECT_EQ(QueryStatus(db.get(), u"select * from Table1 where A = 1").code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(QueryStatus(db.get(), u"select * from Table1 where E = 'abc'").code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(QueryStatus(db.get(), u"delete from Table1").code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(QueryStatus(db.get(), u"select * from Table1 where nosuchfn() = 1").code(), Status::Code::kNotSupported);
  // The file stays usable afterwards.
  EXPECT_EQ(All(db.get(), u"select * from Table1").size(), 2u);
}

TEST(Select, SeveralRecordSetsAtOnce) {
  auto db = OpenFixture("jk_indexTestV2000.mdb");
  std::unique_ptr<RecordSet> a, b;
  ASSERT_TRUE(ExecuteQuery(db.get(), u"select * from Table1 order by id", &a).ok());
  ASSERT_TRUE(ExecuteQuery(db.get(), u"select * from Table2 where id = 0", &b).ok());
  int n = 0;
  while (!a->AtEnd()) {
    ++n;
    ASSERT_TRUE(a->MoveNext().ok());
  }
  EXPECT_EQ(n, 4);
  EXPECT_FALSE(b->AtEnd());
  b.reset();
  a.reset();
  EXPECT_EQ(All(db.get(), u"select * from Table3").size(), 4u);
}

}  // namespace
}  // namespace mdb

namespace mdb {
namespace {

// Sorted record sets read their rows back by id in batches: thousands of
// rows in an order unrelated to storage, with equal keys, a filter, TOP and
// a second pass, must come back complete and each with its own values.
TEST(Select, LargeSortedResultsKeepEveryRowWhole) {
  const std::string path = (std::filesystem::temp_directory_path() / "sql_large_sort.mdb").string();
  std::filesystem::remove(path);
  ASSERT_TRUE(Database::Create(Env::Default(), path, CreateOptions()).ok());
  std::unique_ptr<Database> db;
  ASSERT_TRUE(Database::Open(Env::Default(), path, OpenOptions(), &db).ok());
  std::unique_ptr<Table> t;
  ASSERT_TRUE(db->OpenTable(u"用户信息表", &t).ok());
  constexpr int kRows = 5000;
  std::vector<std::pair<std::u16string, int64_t>> want;  // (name, id)
  ASSERT_TRUE(db->Begin().ok());
  for (int i = 0; i < kRows; ++i) {
    // Names repeat (every 997th) and run against the storage order.
    std::string n = "p" + std::to_string(100000 + (i * 7919) % 997);
    std::u16string name(n.begin(), n.end());
    int64_t id = 0;
    std::vector<Value> row(t->columns().size());
    row[t->ColumnIndex(u"姓名")] = name;
    row[t->ColumnIndex(u"个人简介")] = name + u" 的简介";
    ASSERT_TRUE(t->Insert(row, nullptr, &id).ok());
    want.push_back({name, id});
  }
  ASSERT_TRUE(db->Commit().ok());
  // Equal names keep storage order, which is insertion order here.
  std::stable_sort(want.begin(), want.end(), [](auto& a, auto& b) { return a.first < b.first; });

  std::unique_ptr<RecordSet> rs;
  ASSERT_TRUE(ExecuteQuery(db.get(), u"select [ID],[姓名],[个人简介] from [用户信息表] order by [姓名] asc", &rs).ok());
  for (int pass = 0; pass < 2; ++pass) {
    size_t k = 0;
    for (; !rs->AtEnd(); ++k) {
      ASSERT_LT(k, want.size());
      Value id, name, profile;
      ASSERT_TRUE(rs->Get(0, &id).ok());
      ASSERT_TRUE(rs->Get(1, &name).ok());
      ASSERT_TRUE(rs->Get(2, &profile).ok());
      ASSERT_EQ(ValueToText(id), ValueToText(Value(want[k].second))) << k;
      ASSERT_EQ(ValueToText(name), want[k].first) << k;
      ASSERT_EQ(ValueToText(profile), want[k].first + u" 的简介") << k;
      ASSERT_TRUE(rs->MoveNext().ok());
    }
    EXPECT_EQ(k, want.size());
    ASSERT_TRUE(rs->MoveFirst().ok());
  }
  rs.reset();

  // Rows fetched by id alone, in an order unrelated to storage, come back
  // in batches; each must be the row its id names.
  {
    std::vector<RowId> ids;
    std::vector<std::u16string> names;
    auto scan = t->Scan();
    const int name_col = t->ColumnIndex(u"姓名");
    while (scan->Next()) {
      Value v;
      ASSERT_TRUE(scan->Get(name_col, &v).ok());
      ids.push_back(scan->row_id());
      names.push_back(ValueToText(v));
    }
    ASSERT_EQ(ids.size(), size_t(kRows));
    std::vector<size_t> shuffled;
    for (size_t i = 0; i < ids.size(); ++i) shuffled.push_back((i * 7919) % ids.size());
    std::vector<RowId> wanted;
    for (size_t i : shuffled) wanted.push_back(ids[i]);
    auto fetched = t->Fetch(wanted);
    size_t k = 0;
    while (fetched->Next()) {
      ASSERT_LT(k, shuffled.size());
      EXPECT_EQ(fetched->row_id(), ids[shuffled[k]]);
      Value v;
      ASSERT_TRUE(fetched->Get(name_col, &v).ok());
      ASSERT_EQ(ValueToText(v), names[shuffled[k]]) << k;
      ++k;
    }
    EXPECT_TRUE(fetched->status().ok());
    EXPECT_EQ(k, shuffled.size());
  }

  // Descending with TOP and a filter.
  auto rows = All(db.get(), u"select top 1500 [ID] from [用户信息表] where [ID] > 1000 order by [ID] desc");
  ASSERT_EQ(rows.size(), 1500u);
  for (size_t k = 0; k < rows.size(); ++k) EXPECT_EQ(rows[k][0], ValueToText(Value(int64_t(kRows - k))));
  db.reset();
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace mdb
