// The definition of a new table, as Access writes one: columns, real and
// logical indexes, the usage-map rows and the empty index roots. Used to
// build a new database (its system tables and the program's tables).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mdb/mdb.h"
#include "mdb/pager.h"
#include "mdb/status.h"

namespace mdb {

struct ColumnLayout {
  std::u16string name;
  ColumnType type = ColumnType::kText;
  uint16_t number = 0;  // position in the row's null mask
  uint16_t length = 0;  // bytes: 2 per text character, 0 for long values, 1 for yes/no
  uint8_t flags = 0;    // jet4::kColFlag*
  bool compressed = false;  // text stored with Unicode compression
};

struct RealIndexLayout {
  std::vector<uint16_t> columns;  // column numbers, ascending order
  uint8_t flags = 0;              // jet4::kIndexFlag*
};

struct LogicalIndexLayout {
  std::u16string name;
  uint32_t number = 0;
  uint32_t real = 0;
  uint8_t kind = 0;  // 0 plain, jet4::kIndexKindPrimary, jet4::kIndexKindForeign
  // Foreign keys: 2 on the referencing table, 1 on the referenced one; the
  // other side's logical index number and definition page.
  uint8_t rel_type = 0;
  int32_t rel_index = -1;
  uint32_t rel_table = 0;
  bool cascade_updates = false, cascade_deletes = false;
};

struct TableLayout {
  std::u16string name;
  bool system = false;
  std::vector<ColumnLayout> columns;  // in the order the definition stores them
  std::vector<RealIndexLayout> real;
  std::vector<LogicalIndexLayout> logical;  // stored sorted by name
  // Where the table lives, assigned before it is written.
  uint32_t tdef = 0;
  uint32_t map_page = 0;
  uint16_t first_map_row = 0;
  std::vector<uint32_t> roots;  // one per real index
};

// Rows the table's maps take on its map page: used and free pages, two per
// long-value column (in column order), one per real index.
uint16_t MapRowCount(const TableLayout& t);

// The definition page of `t` (Access's fixed values, `sort_order` in every
// column); NotSupported if it does not fit one page.
Status BuildTableDefinition(const TableLayout& t, uint16_t sort_order, uint8_t* page);

// Stages the definition, the map rows (appended to the map page's image in
// `map_image`, an empty data page to start with) and empty index roots.
Status WriteNewTable(Pager* pager, const TableLayout& t, uint16_t sort_order, uint8_t* map_image);

// The empty usage map row Access starts every map with: inline, from page 0.
std::string EmptyMapRow();

// Stages `data` as page `page`, appending pages up to it first.
Status PutPage(Pager* pager, uint32_t page, const uint8_t* data);

}  // namespace mdb
