#include "reader_util.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#ifndef _WIN32
#include <sys/wait.h>
#endif
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace readertest {

std::string FixturesDir() { return USERMGR_FIXTURES_DIR; }

std::vector<std::string> FixtureFiles() {
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(FixturesDir()))
    if (e.path().extension() == ".mdb") files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

std::u16string FixturePassword(const std::string& path) {
  return path.find("with-password") != std::string::npos ? u"password" : u"";
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

}  // namespace readertest
