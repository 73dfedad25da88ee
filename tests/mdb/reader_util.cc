#include "reader_util.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <cstdint>
#include <cstdio>
#ifndef _WIN32
#include <sys/wait.h>
#endif
#include <fstream>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "mdb/value_format.h"

namespace readertest {

std::string FixturesDir() { return USERMGR_FIXTURES_DIR; }

std::vector<std::string> FixtureFiles() {
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(FixturesDir()))
    if (e.path().extension() == ".mdb") files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

std::string RealWorldDir() { return FixturesDir() + "/../realworld"; }

std::vector<std::string> RealWorldFiles() {
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(RealWorldDir()))
    if (e.path().extension() == ".mdb") files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

std::u16string FixturePassword(const std::string& path) {
  if (path.find("with-password") != std::string::npos) return u"password";
  if (path.find("hotel-reservation-system") != std::string::npos) return u"12345";
  if (path.find("VIP-Manager") != std::string::npos) return u"tyy1059606243";
  return u"";
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(data.data(), std::streamsize(data.size()));
}

std::string TempDir(const std::string& name) {
  auto dir = std::filesystem::temp_directory_path() /
             ("usermgr-reader-" + name + "-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
              "-" + std::to_string(reinterpret_cast<uintptr_t>(&name) & 0xFFFF));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

std::string RunCommand(const std::string& cmd, int* rc) {
  std::string out;
#ifdef _WIN32
  *rc = -1;  // the other readers run in the native suite only
  return out;
#else
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) {
    *rc = -1;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  *rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
#endif
}

bool HaveCommand(const std::string& name) {
  int rc;
  RunCommand("command -v " + name + " >/dev/null 2>&1", &rc);
  return rc == 0;
}

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out.push_back(c);
  }
  return out + "'";
}

std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, any = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          field.push_back('"');
          ++i;
        } else {
          quoted = false;
        }
      } else {
        field.push_back(c);
      }
      continue;
    }
    any = true;
    if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      row.push_back(field);
      field.clear();
    } else if (c == '\n') {
      row.push_back(field);
      field.clear();
      rows.push_back(row);
      row.clear();
      any = false;
    } else if (c != '\r') {
      field.push_back(c);
    }
  }
  if (any || !field.empty() || !row.empty()) {
    row.push_back(field);
    rows.push_back(row);
  }
  return rows;
}


namespace {

using Rows = std::vector<std::vector<std::string>>;

const char kDateFormat[] = "%Y-%m-%d %H:%M:%S";

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
// mdbtools reads a text stored as the two bytes FF FE (U+FEFF, stored
// plainly) as an empty compressed text; Access stores an empty text as no
// bytes at all, so the engine and mdb-reader read U+FEFF (`feff_as_empty`
// tells the comparison with mdb-export).
void ExpectSameTable(const Rows& ours_in, const Rows& theirs_in, const std::string& what,
                     bool feff_as_empty = false) {
  Rows ours = Normalise(ours_in), theirs = Normalise(theirs_in);
  if (feff_as_empty)
    for (auto& r : ours)
      for (auto& c : r)
        if (c == "\xEF\xBB\xBF") c.clear();
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

mdb::Status ReadAll(mdb::Database* db, const std::u16string& name, Rows* rows, bool check_count) {
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
  if (check_count) {
    EXPECT_EQ(count, t->row_count()) << "stored row count of " << mdb::Utf16ToUtf8Lossy(name);
  }
  *rows = ParseCsv(csv);
  return mdb::Status::OK();
}


}  // namespace

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


namespace {

void CompareTable(mdb::Database* db, const std::string& path, const std::u16string& name, const Rows* node_rows,
                  const std::u16string& password, bool check_count) {
  std::string table = mdb::Utf16ToUtf8Lossy(name);
  Rows engine;
  mdb::Status s = ReadAll(db, name, &engine, check_count);
  ASSERT_TRUE(s.ok()) << table << ": " << s.ToString();
  int rc = 0;
  Rows exported = ParseCsv(RunCommand("mdb-export -b hex -D '" + std::string(kDateFormat) + "' -T '" + kDateFormat +
                                          "' " + ShellQuote(path) + " " + ShellQuote(table),
                                      &rc));
  ASSERT_EQ(rc, 0) << "mdb-export failed on " << table;
  ExpectSameTable(engine, exported, table + " vs mdb-export", true);
  if (node_rows) {
    ExpectSameTable(engine, *node_rows, table + " vs mdb-reader");
    return;
  }
  std::string pw = mdb::Utf16ToUtf8Lossy(password);
  Rows read = ParseCsv(RunCommand("node " + ShellQuote(NodeScript()) + " " + ShellQuote(path) + " " +
                                      ShellQuote(table) + (pw.empty() ? "" : " " + ShellQuote(pw)),
                                  &rc));
  ASSERT_EQ(rc, 0) << "mdb-reader failed on " << table;
  ExpectSameTable(engine, read, table + " vs mdb-reader");
}

}  // namespace

void ExpectReadersAgree(mdb::Database* db, const std::string& path, const std::u16string& password,
                        const std::u16string& name) {
  CompareTable(db, path, name, nullptr, password, true);
}

void ExpectReadersAgreeOnTables(mdb::Database* db, const std::string& path, const std::u16string& password,
                                const std::vector<std::u16string>& tables) {
  std::string pw = mdb::Utf16ToUtf8Lossy(password);
  int rc = 0;
  std::string all = RunCommand("node " + ShellQuote(NodeScript()) + " " + ShellQuote(path) + " --all" +
                                   (pw.empty() ? "" : " " + ShellQuote(pw)),
                               &rc);
  ASSERT_EQ(rc, 0) << "mdb-reader failed on " << path;
  // Sections: a line of a form feed and the table's name, then its CSV.
  std::map<std::string, Rows> node;
  size_t pos = 0;
  while ((pos = all.find('\f', pos)) != std::string::npos) {
    size_t eol = all.find('\n', pos);
    size_t next = all.find("\n\f", eol);
    std::string name = all.substr(pos + 1, eol - pos - 1);
    node[name] = ParseCsv(all.substr(eol + 1, next == std::string::npos ? std::string::npos : next + 1 - (eol + 1)));
    pos = next == std::string::npos ? all.size() : next + 1;
  }
  for (const auto& t : tables) {
    auto it = node.find(mdb::Utf16ToUtf8Lossy(t));
    EXPECT_NE(it, node.end()) << "mdb-reader lists no table " << mdb::Utf16ToUtf8Lossy(t);
    if (it == node.end()) continue;
    CompareTable(db, path, t, &it->second, password, false);
  }
}

}  // namespace readertest
