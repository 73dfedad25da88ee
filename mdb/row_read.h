// Decoding rows of data pages: the row offset table, deleted and moved rows,
// the null mask, fixed and variable columns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mdb/mdb.h"
#include "mdb/pager.h"
#include "mdb/status.h"
#include "mdb/tdef.h"

namespace mdb {

// Copies page `page` into buf (jet4::kPageSize bytes); pages past the end
// are Corruption, not IOError.
Status CopyPage(Pager* pager, uint32_t page, uint8_t* buf);

// Where row `row` lies on a data page image, with its offset-table flags.
struct RowSlot {
  uint16_t start = 0, end = 0;  // [start, end) within the page
  bool deleted = false;
  bool overflow = false;        // the row holds a pointer to where it moved
};
// Rows on a data page image (0 for a page that is not a data page).
uint16_t DataPageRowCount(const uint8_t* page);
Status LocateRow(const uint8_t* page, uint16_t row, RowSlot* out);

// Reads the bytes of row `id` into *row, following moved rows (a bounded
// number of hops). *found is false for a deleted row. `tdef_page`, when
// non-zero, must own every page visited.
Status FetchRow(Pager* pager, RowId id, uint32_t tdef_page, std::string* row, bool* found);

// One column's bytes inside a row.
struct FieldRef {
  bool null = true;
  bool bit = false;        // kBool: the value, kept in the null mask
  uint32_t offset = 0;     // within the row
  uint32_t size = 0;
};
// Splits a row into its columns, in TableDef::columns order.
Status CrackRow(const TableDef& def, const uint8_t* row, size_t n, std::vector<FieldRef>* out);

// Decodes one column; long values (memo, OLE) are read whole through the pager.
Status DecodeField(Pager* pager, const ColumnDef& col, const uint8_t* row, const FieldRef& f,
                   Value* out);

// Fixed-size decoders shared with the writer's key encoding.
Value DecodeFixed(ColumnType type, const uint8_t* p, size_t n);

}  // namespace mdb
