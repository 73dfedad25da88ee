// Files written by the engine, read back by the independent npm reader
// mdb-reader after every kind of change: inserts, growing updates, photos
// replaced and removed, deletes down to an empty table, and a refill.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>

#include "mdb/sql.h"
#include "mdb/value_format.h"
#include "tests/mdb_write/helpers.h"

using namespace writetest;
using mdb::Value;

namespace {

const std::u16string kPassword = u"580274";
const std::u16string kPersons = u"用户信息表";

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string NodeScript() { return std::string(USERMGR_SOURCE_DIR) + "/tests/node/dump_table.mjs"; }

// Fails (not skips) without the oracle: a missing reader must not pass.
void RequireMdbReader() {
  ASSERT_FALSE(RunCommand("command -v node").empty()) << "node not found: install nodejs (scripts/setup.sh does)";
  ASSERT_TRUE(std::filesystem::exists(std::string(USERMGR_SOURCE_DIR) + "/tests/node/node_modules/mdb-reader"))
      << "mdb-reader not installed: run npm install in tests/node (scripts/setup.sh does)";
}

// CSV records (a quoted cell may hold line breaks); the header stays first,
// rows are sorted because the two readers may visit moved rows in a
// different order.
std::vector<std::string> Records(const std::string& csv) {
  std::vector<std::string> out;
  std::string cur;
  bool quoted = false;
  for (char c : csv) {
    if (c == '"') quoted = !quoted;
    if (c == '\n' && !quoted) {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  if (out.size() > 1) std::sort(out.begin() + 1, out.end());
  return out;
}

// The table as `usermgr-db dump` prints it.
std::string OurDump(mdb::Database* db, const std::u16string& name) {
  std::unique_ptr<mdb::Table> t;
  mdb::Status s = db->OpenTable(name, &t);
  if (!s.ok()) return "open: " + s.ToString();
  std::string out;
  const auto& cols = t->columns();
  for (size_t i = 0; i < cols.size(); ++i) out += (i ? "," : "") + Utf8(cols[i].name);
  out += "\n";
  std::unique_ptr<mdb::Cursor> cur = t->Scan();
  while (cur->Next()) {
    for (size_t i = 0; i < cols.size(); ++i) {
      Value v;
      s = cur->Get(int(i), &v);
      if (!s.ok()) return "get: " + s.ToString();
      out += (i ? "," : "") + mdb::FormatValueCsv(v);
    }
    out += "\n";
  }
  if (!cur->status().ok()) return "scan: " + cur->status().ToString();
  return out;
}

// Every user table read by both readers must agree, and the checker must
// find nothing. Returns the number of person rows mdb-reader saw.
size_t ExpectReadersAgree(const std::string& path, const std::string& phase) {
  SCOPED_TRACE(phase);
  size_t persons = 0;
  {
    auto db = Open(path, kPassword);
    if (!db) return 0;
    std::vector<std::u16string> names;
    EXPECT_TRUE(db->ListTables(&names).ok());
    EXPECT_EQ(names.size(), 3u);
    for (const auto& name : names) {
      SCOPED_TRACE(Utf8(name));
      std::vector<std::string> ours = Records(OurDump(db.get(), name));
      std::vector<std::string> theirs = Records(RunCommand("node " + Quote(NodeScript()) + " " + Quote(path) + " " +
                                                           Quote(Utf8(name)) + " " + Quote(Utf8(kPassword)) + " 2>&1"));
      EXPECT_EQ(ours.size(), theirs.size());
      EXPECT_TRUE(ours == theirs) << "mdb-reader disagrees; its first lines: "
                                  << (theirs.empty() ? "" : theirs[0].substr(0, 400))
                                  << (theirs.size() > 1 ? "\n" + theirs[1].substr(0, 400) : "");
      if (name == kPersons && !theirs.empty()) persons = theirs.size() - 1;
    }
  }
  EXPECT_CLEAN(path, kPassword);
  return persons;
}

// Rows that moved off their page and left a pointer behind: the slot flag
// readers must skip while they still find the row at its new place.
int MovedRows(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::string d((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  auto u16 = [&](size_t at) { return unsigned(uint8_t(d[at])) | unsigned(uint8_t(d[at + 1])) << 8; };
  int moved = 0;
  for (size_t page = 4096; page + 4096 <= d.size(); page += 4096) {
    if (d[page] != 1) continue;
    unsigned rows = std::min(u16(page + 12), 2000u);
    for (unsigned r = 0; r < rows; ++r)
      if ((u16(page + 14 + 2 * r) & 0xC000) == 0x4000) ++moved;
  }
  return moved;
}

std::string Photo(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = char(rng());
  return s;
}

std::vector<Value> Person(int k, const std::string& photo) {
  std::u16string name = u"张伟" + std::u16string(1, char16_t(u'甲' + k));
  // Multi-line memo with quotes; every third one long enough to leave the row.
  std::u16string profile = u"第一行：籍贯北京\r\n第二行 \"引号\" 和, 逗号\n第三行";
  if (k % 3 == 2) profile += std::u16string(3000, u'长');
  Value pic = photo.empty() ? Value() : Value(mdb::Binary{photo});
  return {Value(), name, k % 2 == 0, profile, mdb::Date{31000.25 + k}, std::u16string(u"管理员"), pic};
}

TEST(MdbReaderInterop, EveryPhaseOfEditingStaysReadable) {
  RequireMdbReader();
  if (HasFatalFailure()) return;
  std::string path = Scratch("interop.mdb");
  mdb::CreateOptions o;
  o.password = kPassword;
  ASSERT_TRUE(mdb::Database::Create(mdb::Env::Default(), path, o).ok());
  EXPECT_EQ(ExpectReadersAgree(path, "new file"), 0u);

  const std::string small = Photo(3500, 1), big = Photo(100 * 1024, 2), mid = Photo(9000, 3);
  const std::string photos[] = {"", small, big, mid};
  std::vector<mdb::RowId> ids;
  {
    auto db = Open(path, kPassword);
    ASSERT_TRUE(db);
    std::unique_ptr<mdb::Table> t;
    ASSERT_TRUE(db->OpenTable(kPersons, &t).ok());
    for (int k = 0; k < 16; ++k) {
      mdb::RowId id;
      mdb::Status s = t->Insert(Person(k, photos[k % 4]), &id, nullptr);
      ASSERT_TRUE(s.ok()) << s.ToString();
      ids.push_back(id);
    }
    std::unique_ptr<mdb::Table> users, log;
    ASSERT_TRUE(db->OpenTable(u"用户表", &users).ok());
    ASSERT_TRUE(users->Insert({Value(), std::u16string(u"李四"), std::u16string(u"密码123")}, nullptr, nullptr).ok());
    ASSERT_TRUE(db->OpenTable(u"操作日志", &log).ok());
    for (int k = 0; k < 5; ++k)
      ASSERT_TRUE(log->Insert({int64_t(1), mdb::Date{45000.5 + k}, u"添加用户 " + std::u16string(1, char16_t(u'0' + k))},
                              nullptr, nullptr)
                      .ok());
  }
  EXPECT_EQ(ExpectReadersAgree(path, "inserts"), 16u);

  {
    auto db = Open(path, kPassword);
    ASSERT_TRUE(db);
    std::unique_ptr<mdb::Table> t;
    ASSERT_TRUE(db->OpenTable(kPersons, &t).ok());
    for (int k = 0; k < 16; ++k) {
      std::vector<std::pair<int, Value>> changes;
      // Rows grow: longest names, longer profiles; photos swap sizes or go.
      changes.push_back({1, std::u16string(50, char16_t(u'赵' + k))});
      changes.push_back({5, std::u16string(50, u'审')});
      if (k % 4 == 0) changes.push_back({6, mdb::Binary{big}});
      if (k % 4 == 1) changes.push_back({6, mdb::Binary{mid}});
      if (k % 4 == 2) changes.push_back({6, Value()});
      if (k % 3 == 0) changes.push_back({3, std::u16string(u"改写后的简介\n") + std::u16string(500, u'新')});
      mdb::RowId moved;
      mdb::Status s = t->Update(ids[k], changes, &moved);
      ASSERT_TRUE(s.ok()) << k << ": " << s.ToString();
      ids[k] = moved;
    }
  }
  EXPECT_EQ(ExpectReadersAgree(path, "updates"), 16u);
  EXPECT_GT(MovedRows(path), 0) << "the updates should have moved grown rows off full pages";

  {
    auto db = Open(path, kPassword);
    ASSERT_TRUE(db);
    std::unique_ptr<mdb::Table> t;
    ASSERT_TRUE(db->OpenTable(kPersons, &t).ok());
    // The first row, one in the middle, the last, and some with photos.
    for (int k : {0, 7, 15, 1, 2, 10}) ASSERT_TRUE(t->Delete(ids[k]).ok()) << k;
  }
  EXPECT_EQ(ExpectReadersAgree(path, "some deletes"), 10u);

  {
    auto db = Open(path, kPassword);
    ASSERT_TRUE(db);
    int64_t n = 0;
    mdb::Status s = mdb::ExecuteStatement(db.get(), u"delete from [用户信息表]", nullptr, &n);
    ASSERT_TRUE(s.ok()) << s.ToString();
    EXPECT_EQ(n, 10);
    s = mdb::ExecuteStatement(db.get(), u"delete from [操作日志] where [操作时间] > #2023-03-15#", nullptr, &n);
    ASSERT_TRUE(s.ok()) << s.ToString();
  }
  EXPECT_EQ(ExpectReadersAgree(path, "table emptied"), 0u);

  {
    auto db = Open(path, kPassword);
    ASSERT_TRUE(db);
    std::unique_ptr<mdb::Table> t;
    ASSERT_TRUE(db->OpenTable(kPersons, &t).ok());
    for (int k = 0; k < 6; ++k) ASSERT_TRUE(t->Insert(Person(k + 20, photos[(k + 2) % 4]), nullptr, nullptr).ok());
    mdb::Binary photo{small};
    int64_t n = 0;
    mdb::Status s = mdb::ExecuteStatement(
        db.get(),
        u"insert into [用户信息表] ([姓名],[性别],[个人简介],[出生日期],[添加者],[照片]) "
        u"values ('王五',true,'多行\n简介','1985-06-11','管理员',?)",
        &photo, &n);
    ASSERT_TRUE(s.ok()) << s.ToString();
    // While the database stays open its last commit's journal lies past the
    // end; a reader that knows nothing of it reads the rows all the same.
    std::vector<std::string> ours = Records(OurDump(db.get(), kPersons));
    std::vector<std::string> theirs = Records(RunCommand("node " + Quote(NodeScript()) + " " + Quote(path) + " " +
                                                         Quote(Utf8(kPersons)) + " " + Quote(Utf8(kPassword)) +
                                                         " 2>&1"));
    EXPECT_EQ(ours.size(), 8u);
    EXPECT_TRUE(ours == theirs) << "mdb-reader disagrees while the database is open";
  }
  EXPECT_EQ(ExpectReadersAgree(path, "refilled"), 7u);
}

}  // namespace
