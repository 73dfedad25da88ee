// Decoding rows of data pages: the row offset table, deleted and moved rows,
// the null mask, fixed and variable columns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mdb/jet4.h"
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

// The same in two steps, for cursors that read a few columns of many rows:
// the row's header once, then each column as it is asked for.
struct RowLayout {
  const uint8_t* row = nullptr;
  uint32_t row_cols = 0;            // columns the row was written with
  const uint8_t* mask = nullptr;    // the null mask
  const uint8_t* var_table = nullptr;  // just past the first variable offset
  uint32_t var_count = 0;
  uint32_t data_end = 0, fixed_end = 0;
};
Status ParseRow(const TableDef& def, const uint8_t* row, size_t n, RowLayout* out);
Status LocateField(const RowLayout& r, const ColumnDef& c, FieldRef* f);  // inline, below

// Decodes one column; long values (memo, OLE) are read whole through the pager.
Status DecodeField(Pager* pager, const ColumnDef& col, const uint8_t* row, const FieldRef& f,
                   Value* out);

// The byte length of a binary or OLE field without reading a long value's
// pages; -1 for NULL. InvalidArgument for columns of other kinds.
Status FieldLength(const ColumnDef& col, const uint8_t* row, const FieldRef& f, int64_t* bytes);

// Fixed-size decoders shared with the writer's key encoding.
Value DecodeFixed(ColumnType type, const uint8_t* p, size_t n);

// Inline, with the error's text out of line: it runs once per column of
// every row read.
Status FieldOutsideRow(const ColumnDef& c);
inline Status LocateField(const RowLayout& r, const ColumnDef& c, FieldRef* f) {
  *f = FieldRef();
  if (c.number >= r.row_cols) {
    // Added after this row was written: null, and a yes/no column No (as
    // the other readers read it).
    f->null = c.type != uint8_t(ColumnType::kBool);
    return Status::OK();
  }
  bool bit = (r.mask[c.number >> 3] >> (c.number & 7)) & 1;
  if (c.type == uint8_t(ColumnType::kBool)) {
    f->null = false;
    f->bit = bit;
    return Status::OK();
  }
  if (!bit) return Status::OK();
  uint32_t start, end;
  if (c.column.fixed) {
    start = 2u + c.fixed_offset;
    end = start + c.column.size;
    if (end > r.fixed_end) return FieldOutsideRow(c);
  } else {
    if (c.var_index >= r.var_count) return Status::OK();  // added later (or no variable columns)
    start = jet4::Get16(r.var_table - 2 * (c.var_index + 1u));
    end = jet4::Get16(r.var_table - 2 * (c.var_index + 2u));
    if (start > end || end > r.data_end || start < 2) return FieldOutsideRow(c);
  }
  f->null = false;
  f->offset = start;
  f->size = end - start;
  return Status::OK();
}

}  // namespace mdb
