// The system catalog (MSysObjects): the objects of the file by name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mdb/pager.h"
#include "mdb/status.h"

namespace mdb {

struct CatalogEntry {
  std::u16string name;
  uint32_t id = 0;         // object id; for tables the low 24 bits are the tdef page
  uint32_t parent_id = 0;
  uint16_t type = 0;       // 1 table, 4/6 linked tables, 5 query, 8 relationship...
  uint32_t flags = 0;
  uint32_t tdef_page() const { return id & 0x00FFFFFF; }
  bool is_table() const { return (type & 0x7F) == kTypeTable; }
  bool is_system() const { return (flags & kFlagSystemMask) != 0; }

  static constexpr uint16_t kTypeTable = 1;
  static constexpr uint32_t kFlagSystemMask = 0x80000002;
};

class Catalog {
 public:
  // Reads every catalog row (bounded by the file's pages).
  static Status Load(Pager* pager, Catalog* out);

  const std::vector<CatalogEntry>& entries() const { return entries_; }
  // Tables, system ones included; case-insensitive lookup.
  const CatalogEntry* FindTable(const std::u16string& name) const;
  std::vector<std::u16string> UserTables() const;

 private:
  std::vector<CatalogEntry> entries_;
};

}  // namespace mdb
