// Shared helpers for the write tests: scratch copies of fixtures, the
// checker, and the independent readers (mdb-export, mdb-reader) as oracles.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "mdb/mdb.h"

namespace writetest {

inline std::string Scratch(const std::string& name) {
  std::filesystem::path dir = std::filesystem::path(USERMGR_BINARY_DIR) / "mdb_write_scratch";
  std::filesystem::create_directories(dir);
  std::filesystem::path p = dir / name;
  std::filesystem::remove(p);
  return p.string();
}

inline std::string CopyFixture(const std::string& fixture, const std::string& name) {
  std::string dst = Scratch(name);
  std::filesystem::copy_file(std::string(USERMGR_FIXTURES_DIR) + "/" + fixture, dst);
  return dst;
}

inline std::unique_ptr<mdb::Database> Open(const std::string& path, const std::u16string& password = u"") {
  mdb::OpenOptions o;
  o.password = password;
  std::unique_ptr<mdb::Database> db;
  mdb::Status s = mdb::Database::Open(mdb::Env::Default(), path, o, &db);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return db;
}

// Faults and notes alike: a file the engine wrote leaves nothing to note.
inline std::vector<std::string> CheckFaults(const std::string& path, const std::u16string& password = u"") {
  auto db = Open(path, password);
  std::vector<std::string> faults, notes;
  if (!db) return {"cannot open"};
  mdb::Status s = db->Check(&faults, &notes);
  if (!s.ok()) faults.push_back(s.ToString());
  for (const std::string& n : notes) faults.push_back("note: " + n);
  return faults;
}

#define EXPECT_CLEAN(path, ...)                                          \
  do {                                                                   \
    auto _faults = writetest::CheckFaults(path, ##__VA_ARGS__);          \
    EXPECT_TRUE(_faults.empty()) << ::testing::PrintToString(_faults);  \
  } while (0)

inline std::string RunCommand(const std::string& cmd) {
  std::string out;
  FILE* f = popen(cmd.c_str(), "r");
  if (!f) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  pclose(f);
  return out;
}

// Rows of a table as mdb-export prints them (header line dropped).
inline std::vector<std::string> MdbExport(const std::string& path, const std::string& table,
                                          const std::string& extra = "") {
  std::string out = RunCommand("mdb-export " + extra + " -T '%Y-%m-%d %H:%M:%S' '" + path + "' '" + table + "' 2>/dev/null");
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < out.size()) {
    size_t e = out.find('\n', pos);
    if (e == std::string::npos) e = out.size();
    lines.push_back(out.substr(pos, e - pos));
    pos = e + 1;
  }
  if (!lines.empty()) lines.erase(lines.begin());
  return lines;
}

inline std::string Utf8(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    if (c < 0x80) out += char(c);
    else if (c < 0x800) { out += char(0xC0 | (c >> 6)); out += char(0x80 | (c & 0x3F)); }
    else { out += char(0xE0 | (c >> 12)); out += char(0x80 | ((c >> 6) & 0x3F)); out += char(0x80 | (c & 0x3F)); }
  }
  return out;
}

}  // namespace writetest
