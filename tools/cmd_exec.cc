// usermgr-db exec FILE "STATEMENT" [--password P] [--blob FILE]: runs one
// INSERT, UPDATE or DELETE and prints the number of rows it changed.
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "mdb/mdb.h"
#include "mdb/sql.h"
#include "tools/command.h"
#include "vorta/text_codec.h"

namespace tool {

namespace {

bool ReadWhole(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) return false;
  *out = ss.str();
  return true;
}

int Run(const std::vector<std::string>& raw) {
  std::vector<std::string> args = raw;
  std::string password = kDefaultPassword, blob_path;
  TakeOption(&args, "--password", &password);
  bool has_blob = TakeOption(&args, "--blob", &blob_path);
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: usermgr-db exec FILE \"STATEMENT\" [--password P] [--blob FILE]\n");
    return 2;
  }
  mdb::Binary blob;
  if (has_blob && !ReadWhole(blob_path, &blob.bytes)) {
    std::fprintf(stderr, "usermgr-db exec: cannot read %s\n", blob_path.c_str());
    return 1;
  }
  std::unique_ptr<mdb::Database> db;
  if (!OpenDatabase("exec", args[0], password, false, &db)) return 1;
  int64_t rows = 0;
  mdb::Status s = mdb::ExecuteStatement(db.get(), text::Utf8ToUtf16(args[1]), has_blob ? &blob : nullptr, &rows);
  if (!s.ok()) {
    std::fprintf(stderr, "usermgr-db exec: %s\n", s.ToString().c_str());
    return 1;
  }
  std::printf("%" PRId64 "\n", rows);
  return 0;
}

Registrar reg({"exec", "exec FILE \"STATEMENT\" [--password P] [--blob FILE]   run a change, print the rows affected", Run});

}  // namespace

}  // namespace tool
