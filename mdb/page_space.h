// Space on data pages (table rows and long-value rows): the row offset
// table, free space, deleted and moved rows. Works on one page image; the
// caller reads and stages pages through the pager.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mdb/status.h"

namespace mdb {

constexpr uint32_t kDataPageHeader = 14;   // bytes before the row offset table
constexpr uint32_t kMaxRowsPerPage = 255;  // row numbers are one byte in pointers

// Fills `page` as an empty data page owned by `owner` (a tdef page, or
// jet4::kLvalMarker for long-value pages).
void InitDataPage(uint8_t* page, uint32_t owner);

uint16_t DataPageFreeSpace(const uint8_t* page);
// Whether a new row of n bytes fits (its offset slot included).
bool RowFits(const uint8_t* page, size_t n);

// Appends a row; *row gets its number. Flags (jet4::kRowDeleted,
// jet4::kRowOverflow) go into its offset slot.
Status AddRow(uint8_t* page, std::string_view bytes, uint16_t flags, uint16_t* row);

// Replaces row `row` with `bytes` and `flags`, moving the other rows so the
// page stays packed. Fails with NotFound when the new bytes do not fit; the
// page is then unchanged.
Status ReplaceRow(uint8_t* page, uint16_t row, std::string_view bytes, uint16_t flags);

// Marks a row deleted (both flag bits set) and gives its bytes back to the
// page's free space.
Status DeleteRow(uint8_t* page, uint16_t row);

// Whether a row slot holds a live row (not deleted, exists).
bool RowLive(const uint8_t* page, uint16_t row);

}  // namespace mdb
