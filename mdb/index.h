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
// those a split or an emptied page touches) change. The root never moves.
// New pages join the index's usage map (`used_map` row pointer, 0 for
// none); emptied pages leave it and are freed.
Status IndexInsert(Pager* pager, uint32_t used_map, uint32_t root, const IndexEntry& entry);
// Corruption when the entry is not there.
Status IndexRemove(Pager* pager, uint32_t used_map, uint32_t root, const IndexEntry& entry);

// Visits leaf entries in order from the first whose bytes are not below
// `from`, until visit sets *stop or the index ends.
Status IndexScanFrom(Pager* pager, uint32_t root, const std::string& from,
                     const std::function<Status(const IndexEntry&, bool* stop)>& visit);

// Checks the tree's shape: every entry within the range its parent gives
// it, leaves at one depth and linked in order. Appends what is wrong.
void VerifyIndexTree(Pager* pager, uint32_t root, std::vector<std::string>* faults);

// An empty leaf page image for a new index.
void InitLeafPage(uint8_t* page, uint32_t tdef_page);

}  // namespace mdb
