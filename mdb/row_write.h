// Encoding rows for storage: one value per column into the Jet 4 row
// layout (column count, fixed part, variable part, end offset, variable
// offset table in reverse, variable count, null mask).
#pragma once

#include <string>
#include <vector>

#include "mdb/mdb.h"
#include "mdb/status.h"
#include "mdb/tdef.h"

namespace mdb {

// One column's stored form. Long values (memo, OLE) arrive here as their
// 12-byte field, already written by lval_write.
struct FieldBytes {
  bool null = true;
  bool bit = false;  // yes/no columns keep their value in the null mask
  std::string bytes;
};

// The stored form of a value in a column that is not a long value. A value
// of the wrong kind or too long for the column is InvalidArgument.
Status EncodeValue(const ColumnDef& col, const Value& v, FieldBytes* out);

// Lays out a row; fields follow TableDef::columns.
Status BuildRow(const TableDef& def, const std::vector<FieldBytes>& fields, std::string* row);

// Whether the column keeps a long value (memo, OLE) in a 12-byte field.
inline bool IsLongValueColumn(const ColumnDef& col) {
  return col.column.type == ColumnType::kMemo || col.column.type == ColumnType::kOle;
}

// Values as numbers or texts, whatever variant they arrive in; false when
// the value has no such reading.
bool ValueAsInt(const Value& v, int64_t* out);
bool ValueAsDouble(const Value& v, double* out);

}  // namespace mdb
