// libFuzzer target for the engine's read side: any bytes opened as a database
// and read table by table, every column of every row, must give data or a
// clean error, never a crash, a hang or an unbounded allocation.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mdb/mdb.h"
#include "mdb/mem_env.h"

namespace {

void ReadEverything(mdb::Database* db) {
  std::vector<std::u16string> names;
  if (!db->ListTables(&names).ok()) return;
  for (const auto& name : names) {
    std::unique_ptr<mdb::Table> table;
    if (!db->OpenTable(name, &table).ok()) continue;
    (void)table->indexes();
    (void)table->row_count();
    std::unique_ptr<mdb::Cursor> cur = table->Scan();
    int columns = int(table->columns().size());
    while (cur->Next()) {
      for (int i = 0; i < columns; ++i) {
        mdb::Value v;
        (void)cur->Get(i, &v);
      }
      mdb::Value v;
      if (columns > 0) (void)table->Read(cur->row_id(), 0, &v);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  mdb::MemEnv env;
  env.SetFile("fuzz.mdb", std::string(reinterpret_cast<const char*>(data), size));
  mdb::OpenOptions options;
  options.read_only = true;
  std::unique_ptr<mdb::Database> db;
  mdb::Status s = mdb::Database::Open(&env, "fuzz.mdb", options, &db);
  if (s.code() == mdb::Status::Code::kBadPassword) {
    // The fixtures' protected file uses this one; read past the check too.
    options.password = u"password";
    s = mdb::Database::Open(&env, "fuzz.mdb", options, &db);
  }
  if (!s.ok()) return 0;
  ReadEverything(db.get());
  return 0;
}
