// Index keys: the bytes an index stores for a row's key columns, in an
// order-preserving form (see index.h for the entry and page layout).
#pragma once

#include <string>
#include <vector>

#include "mdb/mdb.h"
#include "mdb/status.h"
#include "mdb/tdef.h"

namespace mdb {

// Encodes the key of a row for an index. `values` follows TableDef::columns.
// NotSupported when a key column's kind or a text's characters cannot be
// encoded.
Status EncodeIndexKey(const TableDef& def, const RealIndexDef& index, const std::vector<Value>& values,
                      std::string* key);
// Whether the engine can encode every key of this index (by column kinds).
Status IndexEncodable(const TableDef& def, const RealIndexDef& index);
// True when a key holds a null column value.
bool KeyHasNull(const TableDef& def, const RealIndexDef& index, const std::vector<Value>& values);

// Text of a key column as the index stores it (case folded); NotSupported
// for a character outside the known collation.
Status EncodeTextKey(const std::u16string& text, std::string* out);

// While one is alive, text keys of characters outside the known collation
// get a provisional code instead of NotSupported. Only for the catalog rows a
// new file starts with; never for user tables.
class CatalogKeyScope {
 public:
  CatalogKeyScope();
  ~CatalogKeyScope();
};

}  // namespace mdb
