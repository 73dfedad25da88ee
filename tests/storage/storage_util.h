// Helpers shared by the storage tests: temporary directories and files made
// of recognisable pages.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "mdb/pager.h"

namespace storage_test {

constexpr size_t kPage = mdb::Pager::kPageSize;

class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    for (int i = 0; i < 100 && path_.empty(); ++i) {
      auto p = std::filesystem::temp_directory_path() / ("mdb-storage-" + std::to_string(rd()));
      std::error_code ec;
      if (std::filesystem::create_directory(p, ec)) path_ = p.string();
    }
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// The lock file beside a database of ours (a.mdb -> a.ldb).
inline std::string Ldb(const std::string& path) { return path.substr(0, path.rfind('.')) + ".ldb"; }

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The database's bytes, and no lock file (nor a journal a crash left in one).
inline void Reset(const std::string& path, const std::string& bytes) {
  std::error_code ec;
  std::filesystem::remove(Ldb(path), ec);
  WriteAll(path, bytes);
}

// A database and its lock file, as a crash left them.
struct Files {
  std::string db, ldb;
  bool has_ldb = false;
};
inline Files SaveFiles(const std::string& path) {
  Files f;
  f.db = ReadAll(path);
  f.has_ldb = Exists(Ldb(path));
  if (f.has_ldb) f.ldb = ReadAll(Ldb(path));
  return f;
}
inline void RestoreFiles(const std::string& path, const Files& f) {
  WriteAll(path, f.db);
  std::error_code ec;
  std::filesystem::remove(Ldb(path), ec);
  if (f.has_ldb) WriteAll(Ldb(path), f.ldb);
}

// Page 0 looks like a Jet header; page i > 0 starts like a data page and is
// filled with a pattern of i and `tag`.
inline std::string MakePage(uint32_t i, uint8_t tag) {
  std::string p(kPage, '\0');
  if (i == 0) {
    const char head[] = "\x00\x01\x00\x00Standard Jet DB";
    memcpy(p.data(), head, sizeof(head) - 1);
    p[0x14] = 1;
    return p;
  }
  p[0] = 0x01;
  p[1] = 0x01;
  for (size_t k = 8; k < kPage; ++k) p[k] = static_cast<char>((i * 31 + k * 7 + tag) & 0xFF);
  return p;
}

inline std::string MakeDb(uint32_t pages, uint8_t tag = 0) {
  std::string db;
  for (uint32_t i = 0; i < pages; ++i) db += MakePage(i, tag);
  return db;
}

// The committed content of a file as a reader sees it through the pager.
inline std::string ReadThroughPager(mdb::Env* env, const std::string& path, bool writable, mdb::Status* st) {
  std::unique_ptr<mdb::Pager> p;
  *st = mdb::Pager::Open(env, path, writable, &p);
  if (!st->ok()) return std::string();
  std::string out;
  *st = p->BeginRead();
  if (!st->ok()) return std::string();
  for (uint32_t i = 0; i < p->page_count(); ++i) {
    const uint8_t* d = nullptr;
    *st = p->Get(i, &d);
    if (!st->ok()) break;
    out.append(reinterpret_cast<const char*>(d), kPage);
  }
  p->EndRead();
  return out;
}

}  // namespace storage_test
