// Index keys: the bytes an index stores for a row's key columns, in an
// order-preserving form (see index.h for the entry and page layout).
//
// Per column: a flag byte (7F a value, 00 null; inverted for a descending
// column), then the value. Numbers and dates are big-endian with the sign
// handled so that bytes sort as values; a yes/no column is its flag byte
// alone. Texts follow their column's sort order (index_key.cc describes the
// General form); a descending text is inverted and ends in one more 00.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "mdb/mdb.h"
#include "mdb/status.h"
#include "mdb/tdef.h"

namespace mdb {

// A text column's sort order: the Windows locale id and the version byte
// Access records beside it (0 for the forms Access 2000-2003 write).
struct SortOrder {
  uint16_t lcid = 1033;
  uint8_t version = 0;
  // General as Access 2000-2003 write it ("General - Legacy" in later
  // versions): the one order whose keys are known for every character.
  bool general_legacy() const { return lcid == 1033 && version == 0; }
  bool operator==(const SortOrder&) const = default;
};

// The column's sort order as its definition records it (none recorded:
// General).
SortOrder ColumnSortOrder(const ColumnDef& c);
// "General (1033)", "Chinese PRC (2052)", ... for messages.
std::string SortOrderName(SortOrder order);

// Encodes the key of a row for an index. `values` follows TableDef::columns.
// NotSupported when a key column's kind cannot be encoded or a text holds a
// character whose key under the column's sort order is not known; the
// message names the column and the character.
Status EncodeIndexKey(const TableDef& def, const RealIndexDef& index, const std::vector<Value>& values,
                      std::string* key);
// True when a key holds a null column value.
bool KeyHasNull(const TableDef& def, const RealIndexDef& index, const std::vector<Value>& values);

// Appends a non-null text's key bytes (after the flag byte) under `order`.
// NotSupported naming the first character whose key is not known.
Status EncodeTextKey(std::u16string_view text, SortOrder order, bool ascending, std::string* out);
// The same, General, ascending: what the catalog's name indexes hold.
Status EncodeTextKey(const std::u16string& text, std::string* out);

// Whether every character of `text` has a known key under `order`; the
// first that has none goes to *unknown.
bool TextKeyKnown(std::u16string_view text, SortOrder order, char16_t* unknown = nullptr);

// The one other form Access has been seen to write for General texts: a
// character that sorts as two letters (ß, æ, ĳ, ...) takes two places in the
// positions of the accent and hyphen codes (Northwind's keys; Access 2003
// gives it one place, as EncodeIndexKey does). Only for checking stored keys;
// the same as EncodeIndexKey for keys without such characters.
Status EncodeIndexKeyTwoPlaceExpansions(const TableDef& def, const RealIndexDef& index,
                                        const std::vector<Value>& values, std::string* key);

// Ordering and equality of texts as the sort order's keys give them (case,
// width and kana kind ignored; accents, marks and hyphens compared after
// the letters). For texts whose keys are not known (other sort orders), a
// byte string from the engine's fallback collation (mdb/collation.h), after
// every known key. Plain byte order of the result is the order.
std::string TextCollationKey(std::u16string_view text, SortOrder order);
// The order of two texts' TextCollationKey, mostly without making them.
int CompareByKeys(std::u16string_view a, std::u16string_view b, SortOrder order);

}  // namespace mdb
