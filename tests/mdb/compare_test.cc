// Every table of every fixture, read by the engine, against two independent
// readers: mdbtools' mdb-export and the npm package mdb-reader.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>

#include <gtest/gtest.h>

#include "mdb/mdb.h"
#include "mdb/value_format.h"
#include "reader_util.h"

namespace {

using readertest::ParseCsv;
using readertest::RunCommand;
using readertest::ShellQuote;
using Rows = std::vector<std::vector<std::string>>;
using mdb::Status;

const char kDateFormat[] = "%Y-%m-%d %H:%M:%S";

std::string NodeScript() { return std::string(USERMGR_SOURCE_DIR) + "/tests/node/dump_table.mjs"; }

void RequireOracles() {
#ifdef _WIN32
  GTEST_SKIP() << "mdbtools and node run in the native test suite";
#endif
  ASSERT_TRUE(readertest::HaveCommand("mdb-export") && readertest::HaveCommand("mdb-tables"))
      << "mdb-export/mdb-tables not found: install mdbtools (scripts/setup.sh does)";
  ASSERT_TRUE(readertest::HaveCommand("node")) << "node not found: install nodejs (scripts/setup.sh does)";
  ASSERT_TRUE(std::filesystem::exists(std::string(USERMGR_SOURCE_DIR) + "/tests/node/node_modules/mdb-reader"))
      << "mdb-reader not installed: run npm install in tests/node (scripts/setup.sh does)";
}

// A cell as both sides can agree on: a date at midnight loses its time.
std::string NormaliseCell(std::string s) {
  const std::string midnight = " 00:00:00";
  if (s.size() == 19 && s.compare(10, 9, midnight) == 0) s.resize(10);
  return s;
}

bool AsNumber(const std::string& s, double* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  *out = std::strtod(s.c_str(), &end);
  return end && *end == '\0';
}

// Seconds since year 0 of "YYYY-MM-DD HH:MM:SS"; false for other text.
bool AsDateTime(const std::string& s, long long* out) {
  int y, mo, d, h, mi, se;
  char tail;
  if (s.size() != 19 || std::sscanf(s.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &se, &tail) != 6)
    return false;
  *out = ((((y * 12LL + mo) * 31 + d) * 24 + h) * 60 + mi) * 60 + se;
  return true;
}

bool SameCell(const std::string& a, const std::string& b) {
  if (a == b) return true;
  long long s, t;
  // mdb-reader drops a fraction of a second where the others round it.
  if (AsDateTime(a, &s) && AsDateTime(b, &t)) return s - t >= -1 && s - t <= 1;
  double x, y;
  // Singles print with different digits in each reader.
  if (AsNumber(a, &x) && AsNumber(b, &y)) return std::fabs(x - y) <= 1e-6 * std::max(1.0, std::fabs(x));
  return false;
}

Rows Normalise(Rows rows) {
  for (auto& r : rows)
    for (auto& c : r) c = NormaliseCell(c);
  return rows;
}

// Rows moved by an update are listed by the engine where the row was first
// stored (where its index entries point); the other readers list them at
// their new place. Tables are compared as sorted lists of rows.
void ExpectSameTable(const Rows& ours_in, const Rows& theirs_in, const std::string& what) {
  Rows ours = Normalise(ours_in), theirs = Normalise(theirs_in);
  ASSERT_FALSE(ours.empty()) << what;
  ASSERT_FALSE(theirs.empty()) << what;
  EXPECT_EQ(ours[0], theirs[0]) << what << ": column names";
  ASSERT_EQ(ours.size(), theirs.size()) << what << ": row count";
  std::sort(ours.begin() + 1, ours.end());
  std::sort(theirs.begin() + 1, theirs.end());
  int mismatches = 0;
  for (size_t r = 1; r < ours.size() && mismatches < 5; ++r) {
    ASSERT_EQ(ours[r].size(), theirs[r].size()) << what << ": row " << r;
    for (size_t c = 0; c < ours[r].size(); ++c) {
      if (!SameCell(ours[r][c], theirs[r][c])) {
        ADD_FAILURE() << what << ": row " << r << " column " << ours[0][c] << ": engine '" << ours[r][c]
                      << "', other reader '" << theirs[r][c] << "'";
        ++mismatches;
      }
    }
  }
}

Status ReadAll(mdb::Database* db, const std::u16string& name, Rows* rows) {
  std::unique_ptr<mdb::Table> t;
  MDB_RETURN_IF_ERROR(db->OpenTable(name, &t));
  std::vector<std::string> header;
  for (const auto& c : t->columns()) header.push_back(mdb::Utf16ToUtf8Lossy(c.name));
  std::string csv;
  for (size_t i = 0; i < header.size(); ++i) csv += (i ? "," : "") + header[i];
  csv += "\n";
  auto cur = t->Scan();
  uint32_t count = 0;
  while (cur->Next()) {
    for (size_t i = 0; i < header.size(); ++i) {
      mdb::Value v;
      MDB_RETURN_IF_ERROR(cur->Get(int(i), &v));
      csv += (i ? "," : "") + mdb::FormatValueCsv(v);
    }
    csv += "\n";
    ++count;
  }
  MDB_RETURN_IF_ERROR(cur->status());
  EXPECT_EQ(count, t->row_count()) << "stored row count of " << mdb::Utf16ToUtf8Lossy(name);
  *rows = ParseCsv(csv);
  return mdb::Status::OK();
}

TEST(CompareWithOtherReaders, EveryTableOfEveryFixture) {
  RequireOracles();
  if (::testing::Test::IsSkipped() || ::testing::Test::HasFatalFailure()) return;
  auto files = readertest::FixtureFiles();
  ASSERT_GE(files.size(), 10u);
  int tables_compared = 0;
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    mdb::OpenOptions options;
    options.read_only = true;
    options.password = readertest::FixturePassword(path);
    std::unique_ptr<mdb::Database> db;
    Status s = mdb::Database::Open(mdb::Env::Default(), path, options, &db);
    ASSERT_TRUE(s.ok()) << s.ToString();

    std::vector<std::u16string> names;
    ASSERT_TRUE(db->ListTables(&names).ok());
    std::set<std::string> ours, mdbtools, node;
    for (const auto& n : names) ours.insert(mdb::Utf16ToUtf8Lossy(n));
    int rc;
    for (const auto& r : ParseCsv(RunCommand("mdb-tables -1 " + ShellQuote(path), &rc)))
      if (!r.empty() && !r[0].empty()) mdbtools.insert(r[0]);
    ASSERT_EQ(rc, 0);
    for (const auto& r : ParseCsv(RunCommand("node " + ShellQuote(NodeScript()) + " " + ShellQuote(path), &rc)))
      if (!r.empty() && !r[0].empty()) node.insert(r[0]);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(ours, mdbtools) << "user tables";
    EXPECT_EQ(ours, node) << "user tables";

    // The catalog too: its long binary columns span long-value pages.
    std::vector<std::u16string> to_compare = names;
    to_compare.push_back(u"MSysObjects");
    to_compare.push_back(u"MSysRelationships");
    for (const auto& name : to_compare) {
      std::string table = mdb::Utf16ToUtf8Lossy(name);
      Rows engine;
      s = ReadAll(db.get(), name, &engine);
      ASSERT_TRUE(s.ok()) << table << ": " << s.ToString();
      Rows exported = ParseCsv(RunCommand("mdb-export -b hex -D '" + std::string(kDateFormat) + "' -T '" +
                                              kDateFormat + "' " + ShellQuote(path) + " " + ShellQuote(table),
                                          &rc));
      ASSERT_EQ(rc, 0) << "mdb-export failed on " << table;
      ExpectSameTable(engine, exported, table + " vs mdb-export");
      std::string pw = mdb::Utf16ToUtf8Lossy(options.password);
      Rows read = ParseCsv(RunCommand("node " + ShellQuote(NodeScript()) + " " + ShellQuote(path) + " " +
                                          ShellQuote(table) + (pw.empty() ? "" : " " + ShellQuote(pw)),
                                      &rc));
      ASSERT_EQ(rc, 0) << "mdb-reader failed on " << table;
      ExpectSameTable(engine, read, table + " vs mdb-reader");
      ++tables_compared;
    }
  }
  EXPECT_GE(tables_compared, 14 + 2 * 10);
}

}  // namespace
