// Index pages: key encoding, reading every entry of an index in order, and
// keeping the tree of leaf and intermediate pages up to date entry by entry.
//
// An entry is the key (per column: a flag byte, then the value in an order-
// preserving form, all bytes inverted for descending columns) followed by the
// row's page (3 bytes, big-endian) and row number (1 byte). Intermediate
// entries add the child page (4 bytes, big-endian); each names the last
// entry of its child. A node's tail page, if set, is its last child and has
// no entry (Access uses it for the rightmost page of each level). Entries on
// a page may share a prefix with the page's first entry.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mdb/mdb.h"
#include "mdb/pager.h"
#include "mdb/status.h"
#include "mdb/index_key.h"
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

// Every leaf entry in index order, and the pages the tree uses.
Status ReadIndex(Pager* pager, uint32_t root, std::vector<IndexEntry>* entries,
                 std::vector<uint32_t>* pages);

// Incremental changes to the tree rooted at `root`, inside the caller's
// write transaction: only the pages on the path to the entry's leaf (and
// those a split or an emptied page touches) change, and every node entry on
// that path ends equal to its child's last entry. The root never moves.
// New pages join the index's usage map (`used_map` row pointer, 0 for
// none); emptied pages leave it and are freed. *new_key, when given, says
// whether no other entry has the same key.
Status IndexInsert(Pager* pager, uint32_t used_map, uint32_t root, const IndexEntry& entry,
                   bool* new_key = nullptr);
// Corruption when the entry is not there.
Status IndexRemove(Pager* pager, uint32_t used_map, uint32_t root, const IndexEntry& entry);

// True when an index that ignores nulls keeps no entry for this row: every
// key column is null.
bool IndexSkipsRow(const TableDef& def, const RealIndexDef& index, const std::vector<Value>& values);

// Raises the index's count of distinct keys by one, in the definition's
// first page and in *def (Access counts keys added and never lowers it).
Status CountNewKey(Pager* pager, TableDef* def, const RealIndexDef& index);

// Visits leaf entries in order from the first whose bytes are not below
// `from`, until visit sets *stop or the index ends.
Status IndexScanFrom(Pager* pager, uint32_t root, const std::string& from,
                     const std::function<Status(const IndexEntry&, bool* stop)>& visit);

// Checks the tree as strictly as the format allows: each node entry against
// its child's first and last leaf entries, order across siblings, tails,
// links, leaves at one depth. Appends what is wrong to faults; an entry above
// its child's last entry (Access leaves them after deletes) is a note.
void VerifyIndexTree(Pager* pager, uint32_t root, std::vector<std::string>* faults,
                     std::vector<std::string>* notes);

// An empty leaf page image for a new index.
void InitLeafPage(uint8_t* page, uint32_t tdef_page);

}  // namespace mdb
