// usermgr-db dump FILE [TABLE] [--password P]: lists the user tables, or
// prints one table as CSV (header row, then one line per row).
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "mdb/mdb.h"
#include "mdb/value_format.h"
#include "tools/command.h"
#include "tools/csv_out.h"
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
  CsvOut out;
  for (size_t i = 0; i < cols.size(); ++i) {
    if (i) out.Put(',');
    out.Advance(mdb::PutUtf8(cols[i].name, out.Room(mdb::Utf8Room(cols[i].name))));
  }
  out.EndRow();
  std::unique_ptr<mdb::Cursor> cur = table->Scan();
  // One value per column, so each keeps its buffer from row to row.
  std::vector<mdb::Value> values(cols.size());
  const std::vector<uint8_t> all(cols.size(), 1);
  while (s.ok() && cur->Next()) {
    s = cur->GetRow(cols.size(), all.data(), values.data());
    if (!s.ok()) break;
    for (size_t i = 0; i < cols.size(); ++i) {
      if (i) out.Put(',');
      out.Advance(mdb::PutValueCsv(values[i], out.Room(mdb::ValueCsvRoom(values[i]))));
    }
    if (!out.EndRow()) break;
  }
  if (s.ok()) s = cur->status();
  db->EndRead();
  bool written = out.Finish();
  if (!s.ok()) return Fail(args[1], s);
  return written ? 0 : 1;
}

const Registrar kDump({"dump", "dump FILE [TABLE] [--password P]   list tables, or print one as CSV", RunDump});

}  // namespace
}  // namespace tool
