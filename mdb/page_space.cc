#include "mdb/page_space.h"

#include <cstring>
#include <vector>

#include "mdb/jet4.h"

namespace mdb {

using namespace jet4;

void InitDataPage(uint8_t* page, uint32_t owner) {
  std::memset(page, 0, kPageSize);
  page[0] = kPageData;
  page[1] = 0x01;
  Put32(page + kDataTdefOffset, owner);
  Put16(page + kDataFreeSpaceOffset, kPageSize - kDataPageHeader);
}

namespace {

struct Slot {
  std::string bytes;
  uint16_t flags;
};

uint16_t RowCount(const uint8_t* page) { return Get16(page + kDataRowCountOffset); }

// Rows lie back to back from the page end: row i ends where row i-1 starts.
Status ReadSlots(const uint8_t* page, std::vector<Slot>* slots) {
  uint16_t n = RowCount(page);
  if (kDataPageHeader + 2u * n > kPageSize) return Status::Corruption("row table overruns its page");
  uint32_t end = kPageSize;
  for (uint16_t i = 0; i < n; ++i) {
    uint16_t raw = Get16(page + kDataRowTableOffset + 2 * i);
    uint32_t start = raw & kRowOffsetMask;
    if (start > end || start < kDataPageHeader + 2u * n)
      return Status::Corruption("row offsets out of order on a data page");
    slots->push_back({std::string(reinterpret_cast<const char*>(page + start), end - start),
                      uint16_t(raw & ~kRowOffsetMask)});
    end = start;
  }
  return Status::OK();
}

Status WriteSlots(uint8_t* page, const std::vector<Slot>& slots) {
  size_t total = kDataPageHeader + 2 * slots.size();
  for (const Slot& s : slots) total += s.bytes.size();
  if (total > kPageSize || slots.size() > kMaxRowsPerPage) return Status::NotFound("row does not fit");
  uint32_t end = kPageSize;
  for (size_t i = 0; i < slots.size(); ++i) {
    uint32_t start = end - uint32_t(slots[i].bytes.size());
    std::memcpy(page + start, slots[i].bytes.data(), slots[i].bytes.size());
    Put16(page + kDataRowTableOffset + 2 * i, uint16_t(start | slots[i].flags));
    end = start;
  }
  uint32_t table_end = kDataPageHeader + 2 * uint32_t(slots.size());
  std::memset(page + table_end, 0, end - table_end);
  Put16(page + kDataRowCountOffset, uint16_t(slots.size()));
  Put16(page + kDataFreeSpaceOffset, uint16_t(end - table_end));
  return Status::OK();
}

}  // namespace

uint16_t DataPageFreeSpace(const uint8_t* page) {
  uint16_t n = RowCount(page);
  uint32_t low = kPageSize;
  for (uint16_t i = 0; i < n && kDataPageHeader + 2u * i < kPageSize; ++i)
    low = std::min<uint32_t>(low, Get16(page + kDataRowTableOffset + 2 * i) & kRowOffsetMask);
  uint32_t table_end = kDataPageHeader + 2u * n;
  return low > table_end ? uint16_t(low - table_end) : 0;
}

bool RowFits(const uint8_t* page, size_t n) {
  return RowCount(page) < kMaxRowsPerPage && DataPageFreeSpace(page) >= n + 2;
}

Status AddRow(uint8_t* page, std::string_view bytes, uint16_t flags, uint16_t* row) {
  if (!RowFits(page, bytes.size())) return Status::NotFound("row does not fit");
  std::vector<Slot> slots;
  MDB_RETURN_IF_ERROR(ReadSlots(page, &slots));
  slots.push_back({std::string(bytes), flags});
  MDB_RETURN_IF_ERROR(WriteSlots(page, slots));
  *row = uint16_t(slots.size() - 1);
  return Status::OK();
}

Status ReplaceRow(uint8_t* page, uint16_t row, std::string_view bytes, uint16_t flags) {
  std::vector<Slot> slots;
  MDB_RETURN_IF_ERROR(ReadSlots(page, &slots));
  if (row >= slots.size()) return Status::Corruption("row number past the page's rows");
  slots[row] = {std::string(bytes), flags};
  uint8_t copy[kPageSize];
  std::memcpy(copy, page, kPageSize);
  Status s = WriteSlots(copy, slots);
  if (!s.ok()) return s;
  std::memcpy(page, copy, kPageSize);
  return Status::OK();
}

// Both flag bits, as real Jet files mark an emptied slot: readers that take
// 0x4000 alone for "deleted" would otherwise read the empty slot as a row
// starting at its (possibly page-end) offset.
Status DeleteRow(uint8_t* page, uint16_t row) { return ReplaceRow(page, row, {}, kRowDeleted | kRowOverflow); }

bool RowLive(const uint8_t* page, uint16_t row) {
  if (page[0] != kPageData || row >= RowCount(page)) return false;
  return (Get16(page + kDataRowTableOffset + 2 * row) & kRowDeleted) == 0;
}

}  // namespace mdb
