// Writing and freeing long values (memo, OLE object, long binary): inline in
// the row, in one row of a long-value page, or in a chain of such rows, one
// page each. Long-value pages belong to their column's usage maps.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "mdb/pager.h"
#include "mdb/status.h"
#include "mdb/tdef.h"
#include "mdb/usage_map.h"

namespace mdb {

// The largest long value the engine writes (the format's limit is 1 GB).
constexpr uint32_t kMaxLongValueWrite = 256u << 20;

// Where a column's long-value pages are listed: row pointers from the table
// definition's trailing section, 0 when the column has none.
struct LongValueMaps {
  uint32_t used = 0, free = 0;
};
// Reads the per-column map pointers that follow the index names.
Status ReadLongValueMaps(const TableDef& def, uint16_t column_number, LongValueMaps* out);

// Places a row on a page listed in `free_map` with room, or on a new page of
// kind `owner` (tdef page or jet4::kLvalMarker) added to both maps. Either
// map may be absent (nullptr).
Status PlaceRow(Pager* pager, UsageMap* used_map, UsageMap* free_map, uint32_t owner,
                std::string_view bytes, uint16_t flags, uint32_t* page, uint16_t* row);

// Stores `data` and returns the 12-byte field (followed by the data when
// inline) for the row. `inline_limit`: largest value kept in the row.
Status WriteLongValue(Pager* pager, const LongValueMaps& maps, std::string_view data,
                      size_t inline_limit, std::string* field);

// Frees the pages and rows a long-value field points to.
Status FreeLongValue(Pager* pager, const LongValueMaps& maps, std::string_view field);

// Follows a long value's rows; calls visit(page, row, bytes) for each and
// checks the lengths add up. Used by the checker.
Status WalkLongValue(Pager* pager, std::string_view field,
                     const std::function<Status(uint32_t page, uint16_t row, size_t n)>& visit);

}  // namespace mdb
