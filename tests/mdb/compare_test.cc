// Every table of every fixture, read by the engine, against two independent
// readers: mdbtools' mdb-export and the npm package mdb-reader (the
// comparison itself is in reader_util.cc).
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
using mdb::Status;

TEST(CompareWithOtherReaders, EveryTableOfEveryFixture) {
  readertest::RequireOracles();
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
    for (const auto& r : ParseCsv(RunCommand("node " + ShellQuote(readertest::NodeScript()) + " " + ShellQuote(path), &rc)))
      if (!r.empty() && !r[0].empty()) node.insert(r[0]);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(ours, mdbtools) << "user tables";
    EXPECT_EQ(ours, node) << "user tables";

    // The catalog too: its long binary columns span long-value pages.
    std::vector<std::u16string> to_compare = names;
    to_compare.push_back(u"MSysObjects");
    to_compare.push_back(u"MSysRelationships");
    for (const auto& name : to_compare) {
      readertest::ExpectReadersAgree(db.get(), path, options.password, name);
      ++tables_compared;
    }
  }
  EXPECT_GE(tables_compared, 14 + 2 * 10);
}

}  // namespace
