// Usage maps: the bitmaps that say which pages a table (or index) owns.
// Stored in a row either inline (start page + bitmap) or as a list of map
// pages (type 0x05), each covering a fixed run of pages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mdb/pager.h"
#include "mdb/status.h"

namespace mdb {

// Decodes the map row `map` (its raw bytes) into ascending page numbers
// below `page_count`.
Status DecodeUsageMap(Pager* pager, const std::string& map, uint32_t page_count,
                      std::vector<uint32_t>* pages);
// Reads the map row that `ptr` (row pointer from a tdef) names, then decodes it.
Status ReadUsageMap(Pager* pager, uint32_t ptr, std::vector<uint32_t>* pages);
// The raw map row that `ptr` names.
Status ReadUsageMapRow(Pager* pager, uint32_t ptr, std::string* map);

}  // namespace mdb
