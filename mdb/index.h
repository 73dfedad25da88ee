// Index pages: key encoding, reading every entry of an index in order, and
// writing an index back as a fresh tree of leaf and intermediate pages.
//
// An entry is the key (per column: a flag byte, then the value in an order-
// preserving form, all bytes inverted for descending columns) followed by the
// row's page (3 bytes, big-endian) and row number (1 byte). Intermediate
// entries add the child page (4 bytes, big-endian); each names the last
// entry of its child. Entries on a page may share a prefix with the page's
// first entry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mdb/mdb.h"
#include "mdb/pager.h"
#include "mdb/status.h"
#include "mdb/tdef.h"

namespace mdb {

struct IndexEntry {
  std::string key;  // without the row pointer
  uint32_t page = 0;
  uint8_t row = 0;
  // Full entry bytes as they sort on the page.
  std::string Bytes() const;
  bool operator<(const IndexEntry& o) const { return Bytes() < o.Bytes(); }
  bool operator==(const IndexEntry& o) const { return key == o.key && page == o.page && row == o.row; }
};

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

// Every leaf entry in index order, and the pages the tree uses.
Status ReadIndex(Pager* pager, uint32_t root, std::vector<IndexEntry>* entries,
                 std::vector<uint32_t>* pages);

// Writes `entries` (sorted) as the index's tree. Reuses `old_pages` (the
// first becomes the root, so the root page never changes), allocates more,
// releases what is left over, and keeps the index's usage map (`used_map`
// row pointer, 0 for none) in step. *root gets the root page.
Status WriteIndex(Pager* pager, uint32_t tdef_page, uint32_t used_map, const std::vector<IndexEntry>& entries,
                  const std::vector<uint32_t>& old_pages, uint32_t* root);

// An empty leaf page image for a new index.
void InitLeafPage(uint8_t* page, uint32_t tdef_page);

}  // namespace mdb
