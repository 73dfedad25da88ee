// usermgr-db dump FILE [TABLE] [--password P]: lists the user tables, or
// prints one table as CSV (header row, then one line per row).
#include <cstdio>
#include <memory>

#include "mdb/mdb.h"
#include "mdb/value_format.h"
#include "tools/command.h"
#include "vorta/text_codec.h"

namespace tool {
namespace {

int Fail(const std::string& what, const mdb::Status& s) {
  std::fprintf(stderr, "usermgr-db dump: %s: %s\n", what.c_str(), s.ToString().c_str());
  return 1;
}

int RunDump(const std::vector<std::string>& in) {
  std::vector<std::string> args = in;
  std::string password = kDefaultPassword;
  TakeOption(&args, "--password", &password);
  if (args.empty() || args.size() > 2) {
    std::fprintf(stderr, "usage: usermgr-db dump FILE [TABLE] [--password P]\n");
    return 2;
  }
  std::unique_ptr<mdb::Database> db;
  if (!OpenDatabase("dump", args[0], password, true, &db)) return 1;
  mdb::Status s;
  if (args.size() == 1) {
    std::vector<std::u16string> names;
    s = db->ListTables(&names);
    if (!s.ok()) return Fail(args[0], s);
    for (const auto& n : names) std::printf("%s\n", text::Utf16ToUtf8(n).c_str());
    return 0;
  }
  std::unique_ptr<mdb::Table> table;
  s = db->OpenTable(text::Utf8ToUtf16(args[1]), &table);
  if (!s.ok()) return Fail(args[1], s);
  // One read transaction: the dump shows one state of the file.
  s = db->BeginRead();
  if (!s.ok()) return Fail(args[0], s);
  const auto& cols = table->columns();
  std::string line;
  for (size_t i = 0; i < cols.size(); ++i) line += (i ? "," : "") + text::Utf16ToUtf8(cols[i].name);
  std::printf("%s\n", line.c_str());
  std::unique_ptr<mdb::Cursor> cur = table->Scan();
  while (cur->Next()) {
    line.clear();
    for (size_t i = 0; i < cols.size(); ++i) {
      mdb::Value v;
      s = cur->Get(int(i), &v);
      if (!s.ok()) {
        db->EndRead();
        return Fail(args[1], s);
      }
      if (i) line += ",";
      line += mdb::FormatValueCsv(v);
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  }
  s = cur->status();
  db->EndRead();
  if (!s.ok()) return Fail(args[1], s);
  return 0;
}

const Registrar kDump({"dump", "dump FILE [TABLE] [--password P]   list tables, or print one as CSV", RunDump});

}  // namespace
}  // namespace tool
