#include "mdb/catalog.h"

#include "mdb/jet4.h"
#include "mdb/table_scan.h"
#include "mdb/tdef.h"

namespace mdb {

namespace {

int64_t AsInt(const Value& v) {
  if (auto p = std::get_if<int64_t>(&v)) return *p;
  return 0;
}

}  // namespace

Status Catalog::Load(Pager* pager, Catalog* out) {
  TableDef def;
  Status s = ReadTableDef(pager, jet4::kCatalogTdefPage, &def);
  if (!s.ok()) return Status::Corruption("system catalog unreadable: " + s.message());
  const ColumnDef* cols[5] = {def.FindColumn(u"Id"), def.FindColumn(u"ParentId"), def.FindColumn(u"Name"),
                              def.FindColumn(u"Type"), def.FindColumn(u"Flags")};
  for (const ColumnDef* c : cols)
    if (c == nullptr) return Status::Corruption("system catalog lacks a required column");
  int pos[5];
  for (int i = 0; i < 5; ++i) pos[i] = int(cols[i] - def.columns.data());

  std::vector<CatalogEntry> entries;
  std::unique_ptr<Cursor> cur = NewScanCursor(pager, def);
  // Every opening reads the whole catalog (hundreds of rows in a file
  // Access made): the values keep their buffers from row to row.
  Value v[5];
  while (cur->Next()) {
    for (int i = 0; i < 5; ++i) MDB_RETURN_IF_ERROR(cur->Get(pos[i], &v[i]));
    CatalogEntry e;
    e.id = uint32_t(AsInt(v[0]));
    e.parent_id = uint32_t(AsInt(v[1]));
    if (auto name = std::get_if<std::u16string>(&v[2])) e.name = *name;
    e.type = uint16_t(AsInt(v[3]));
    e.flags = uint32_t(AsInt(v[4]));
    entries.push_back(std::move(e));
  }
  if (!cur->status().ok()) return Status::Corruption("system catalog unreadable: " + cur->status().message());
  out->entries_ = std::move(entries);
  return Status::OK();
}

const CatalogEntry* Catalog::FindTable(const std::u16string& name) const {
  for (const CatalogEntry& e : entries_)
    if (e.is_table() && EqualsIgnoreCase(e.name, name)) return &e;
  return nullptr;
}

std::vector<std::u16string> Catalog::UserTables() const {
  std::vector<std::u16string> names;
  for (const CatalogEntry& e : entries_)
    if (e.is_table() && !e.is_system()) names.push_back(e.name);
  return names;
}

}  // namespace mdb
