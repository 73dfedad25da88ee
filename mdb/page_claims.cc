#include "mdb/page_claims.h"

#include <vector>

#include "mdb/catalog.h"
#include "mdb/jet4.h"
#include "mdb/lval_write.h"
#include "mdb/tdef.h"
#include "mdb/usage_map.h"
#include "mdb/value_format.h"

namespace mdb {

using namespace jet4;

namespace {

bool IsZero(const uint8_t* p) {
  for (uint32_t i = 0; i < kPageSize; ++i)
    if (p[i]) return false;
  return true;
}

// The table whose definition starts at `tdef`, when that page holds one.
bool LoadOwner(Pager* pager, uint32_t tdef, TableDef* def) {
  if (tdef < 2 || tdef >= pager->page_count()) return false;
  const uint8_t* p;
  if (!pager->Get(tdef, &p).ok() || p[0] != kPageTdef) return false;
  return ReadTableDef(pager, tdef, def).ok();
}

std::string TableName(Pager* pager, uint32_t tdef) {
  Catalog catalog;
  if (Catalog::Load(pager, &catalog).ok())
    for (const CatalogEntry& e : catalog.entries())
      if (e.is_table() && e.tdef_page() == tdef) return "table [" + Utf16ToUtf8Lossy(e.name) + "]";
  return "the table defined on page " + std::to_string(tdef);
}

bool MapContains(Pager* pager, uint32_t ptr, uint32_t page) {
  if (!ptr) return false;
  UsageMap m;
  bool yes = false;
  return UsageMap::Load(pager, ptr, &m).ok() && m.Contains(pager, page, &yes).ok() && yes;
}

// Every map of a table: where its rows lie, the map pages they use, and
// (for the maps that list owned pages) whether they list `page`.
struct TableMaps {
  struct Map {
    uint32_t ptr;
    bool lists_owned;  // a used-pages map, not a free-space one
    std::string what;
  };
  std::vector<Map> maps;
};

TableMaps MapsOf(const TableDef& d, const std::string& name) {
  TableMaps t;
  t.maps.push_back({d.used_pages, true, "table [" + name + "]"});
  t.maps.push_back({d.free_pages, false, "table [" + name + "]"});
  for (const RealIndexDef& r : d.real_indexes) t.maps.push_back({r.used_pages, true, "an index of table [" + name + "]"});
  for (const ColumnDef& c : d.columns) {
    LongValueMaps lv;
    if (!ReadLongValueMaps(d, c.number, &lv).ok() || !lv.used) continue;
    t.maps.push_back({lv.used, true, "the long values of table [" + name + "]"});
    t.maps.push_back({lv.free, false, "the long values of table [" + name + "]"});
  }
  return t;
}

// Looks through every table's definition and maps.
Status ScanAll(Pager* pager, uint32_t page, std::string* owner) {
  UsageMap free_map;
  std::vector<uint32_t> map_pages;
  if (UsageMap::Load(pager, kFreePageMapPtr, &free_map).ok() && free_map.ListMapPages(&map_pages).ok())
    for (uint32_t mp : map_pages)
      if (mp == page) return *owner = "the free-page map", Status::OK();
  Catalog catalog;
  MDB_RETURN_IF_ERROR(Catalog::Load(pager, &catalog));
  for (const CatalogEntry& e : catalog.entries()) {
    if (!e.is_table()) continue;
    TableDef d;
    if (!LoadOwner(pager, e.tdef_page(), &d)) continue;
    std::string name = Utf16ToUtf8Lossy(e.name);
    for (uint32_t p : d.pages)
      if (p == page) return *owner = "the definition of table [" + name + "]", Status::OK();
    for (const TableMaps::Map& m : MapsOf(d, name).maps) {
      if (!m.ptr) continue;
      if (PtrPage(m.ptr) == page) return *owner = "the usage maps of " + m.what, Status::OK();
      UsageMap um;
      if (!UsageMap::Load(pager, m.ptr, &um).ok()) continue;
      map_pages.clear();
      if (um.ListMapPages(&map_pages).ok())
        for (uint32_t mp : map_pages)
          if (mp == page) return *owner = "the usage maps of " + m.what, Status::OK();
      bool yes = false;
      if (m.lists_owned && um.Contains(pager, page, &yes).ok() && yes) return *owner = m.what, Status::OK();
    }
  }
  return Status::OK();
}

}  // namespace

Status FindPageClaim(Pager* pager, uint32_t page, std::string* owner) {
  owner->clear();
  if (page >= pager->page_count()) return Status::OK();
  const uint8_t* p;
  MDB_RETURN_IF_ERROR(pager->Get(page, &p));
  if (IsZero(p)) return Status::OK();
  uint32_t named = Get32(p + kDataTdefOffset);
  TableDef d;
  // A table's own data or index page: that table's maps decide.
  if (p[0] == kPageData && named != kLvalMarker && LoadOwner(pager, named, &d)) {
    if (MapContains(pager, d.used_pages, page)) *owner = TableName(pager, named);
    return Status::OK();
  }
  if ((p[0] == kPageIndexNode || p[0] == kPageIndexLeaf) && LoadOwner(pager, named, &d)) {
    for (const RealIndexDef& r : d.real_indexes)
      if (MapContains(pager, r.used_pages, page)) *owner = "an index of " + TableName(pager, named);
    return Status::OK();
  }
  // Long values, definitions, map rows and map pages name no table.
  return ScanAll(pager, page, owner);
}

}  // namespace mdb
