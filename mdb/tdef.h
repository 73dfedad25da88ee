// A table's definition as stored on its tdef page chain: columns, real and
// logical indexes, row count, auto-number and usage-map pointers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mdb/mdb.h"
#include "mdb/pager.h"
#include "mdb/status.h"

namespace mdb {

struct ColumnDef {
  Column column;             // the public view
  uint8_t type = 0;          // raw type code
  uint16_t number = 0;       // position in the row's null mask (counts deleted columns)
  uint16_t var_index = 0;    // slot in the row's variable offset table
  uint16_t index = 0;        // second column number field
  uint16_t fixed_offset = 0; // offset in the fixed part, after the column count
  uint16_t length = 0;
  uint8_t flags = 0, ext_flags = 0;
  uint16_t sort_order = 0;   // text columns: the sort order's locale id (0: none recorded)
  uint8_t sort_version = 0;  // text columns: the version byte after it (0: Access 2000-2003 forms)
  uint16_t code_page = 0;    // text columns
  uint32_t entry_offset = 0; // where the 25-byte entry starts in TableDef::bytes
};

struct RealIndexDef {
  int number = 0;  // position among the real indexes
  struct Col {
    uint16_t column_number = 0;  // ColumnDef::number
    bool ascending = true;
  };
  std::vector<Col> columns;
  uint32_t used_pages = 0;  // row pointer to the index's usage map
  uint32_t first_page = 0;  // root page of the index tree
  uint8_t flags = 0;        // jet4::kIndexFlag*
  uint32_t unique_count = 0;  // distinct keys added, from the count block after the header
  uint32_t entry_offset = 0;
};

struct LogicalIndexDef {
  std::u16string name;
  int number = 0;
  int real_index = 0;         // index into TableDef::real_indexes (by RealIndexDef::number)
  uint8_t rel_table_type = 0;
  int32_t rel_index = -1;     // logical index in the related table
  uint32_t rel_table_page = 0;
  bool cascade_updates = false;
  bool cascade_deletes = false;
  uint8_t kind = 0;           // jet4::kIndexKind*
  uint32_t entry_offset = 0;
};

struct TableDef {
  uint32_t first_page = 0;
  std::vector<uint32_t> pages;  // the tdef chain, first page first
  // The definition's bytes: the first page whole, then each continuation
  // page from offset 8, so offsets match the on-disk description.
  std::string bytes;

  uint32_t row_count = 0;
  uint32_t next_autonumber = 0;
  uint8_t table_type = 0;
  uint16_t max_cols = 0;
  uint16_t var_col_count = 0;
  uint32_t logical_index_count = 0;
  uint32_t real_index_count = 0;
  uint32_t used_pages = 0;  // row pointer to the table's usage map
  uint32_t free_pages = 0;  // row pointer to the free-space map

  std::vector<ColumnDef> columns;  // in column number order
  std::vector<RealIndexDef> real_indexes;
  std::vector<LogicalIndexDef> indexes;
  uint32_t end_offset = 0;  // first byte after the parsed structures

  const ColumnDef* FindColumn(const std::u16string& name) const;  // case-insensitive
};

// Reads and parses the definition starting at tdef page `page`. Bounds the
// chain by the file's page count.
Status ReadTableDef(Pager* pager, uint32_t page, TableDef* out);
// Parses definition bytes already gathered (exposed for tests and fuzzing).
Status ParseTableDef(const std::string& bytes, TableDef* out);

// ASCII-only case folding, as used for table and column lookups.
bool EqualsIgnoreCase(const std::u16string& a, const std::u16string& b);

}  // namespace mdb
