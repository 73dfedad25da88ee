// Usage maps, read and written: which pages a table, an index or a long-value
// column owns, which of a table's pages have free space, and the database's
// own map of free pages (page 1, row 0). A map is a row on a data page,
// either inline ([0][uint32 first page][bitmap]) or a list of bitmap pages
// ([1][uint32 map page]..., each covering jet4::kUsageMapPageBits pages).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mdb/pager.h"
#include "mdb/status.h"

namespace mdb {

class UsageMap {
 public:
  // The map in the row that `ptr` (a tdef's row pointer) names.
  static Status Load(Pager* pager, uint32_t ptr, UsageMap* out);

  uint32_t ptr() const { return ptr_; }
  bool inline_form() const { return !row_.empty() && uint8_t(row_[0]) == 0; }
  // Pages set in the map, below `limit`, ascending.
  Status Pages(Pager* pager, uint32_t limit, std::vector<uint32_t>* out) const;
  Status Contains(Pager* pager, uint32_t page, bool* yes) const;
  // The bitmap pages a map of the list-of-pages form keeps (none inline).
  Status ListMapPages(std::vector<uint32_t>* out) const;
  // Set or clear one page's bit, staging the changed pages. An inline map that
  // cannot reach the page is moved to the list-of-pages form. When `exact`
  // is false (the database's free-page map), a page the map cannot reach is
  // left alone instead.
  Status Set(Pager* pager, uint32_t page, bool value, bool exact = true);

 private:
  Status Store(Pager* pager);
  Status ToReferenceForm(Pager* pager);

  uint32_t ptr_ = 0;
  std::string row_;
};

// The database's map of free pages.
constexpr uint32_t kFreePageMapPtr = (1u << 8) | 0;

// A page for new use: one the database lists as free, or a new one at the
// end. Either way it is no longer listed as free. The caller stages its
// contents.
Status AllocatePage(Pager* pager, uint32_t* page);
// Gives a page back: listed as free and blanked.
Status ReleasePage(Pager* pager, uint32_t page);

// Pages of the map set owned by the usage map at `ptr`, or nothing for ptr 0.
Status MapPages(Pager* pager, uint32_t ptr, std::vector<uint32_t>* out);

}  // namespace mdb
