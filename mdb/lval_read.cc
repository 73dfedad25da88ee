#include "mdb/lval_read.h"

#include <algorithm>

#include "mdb/jet4.h"
#include "mdb/row_read.h"

namespace mdb {

namespace {

// The row a long-value pointer names, in the pager's own copy of its page.
Status LongValueRow(Pager* pager, uint32_t ptr, const uint8_t** page, RowSlot* slot) {
  uint32_t no = jet4::PtrPage(ptr);
  if (no >= pager->page_count()) return Status::Corruption("page number past the end of the file");
  MDB_RETURN_IF_ERROR(pager->Get(no, page));
  if ((*page)[0] != jet4::kPageData) return Status::Corruption("long value points to a page of another kind");
  MDB_RETURN_IF_ERROR(LocateRow(*page, uint16_t(jet4::PtrRow(ptr)), slot));
  if (slot->deleted) return Status::Corruption("long value points to a deleted row");
  return Status::OK();
}

}  // namespace

Status ReadLongValue(Pager* pager, const uint8_t* field, size_t n, std::string* out) {
  out->clear();
  if (n < jet4::kLvalFieldSize) return Status::Corruption("long value field too short");
  uint32_t head = jet4::Get32(field);
  uint32_t length = head & jet4::kLvalLengthMask;
  if (length > kMaxLongValue) return Status::NotSupported("long value larger than this engine reads");
  if (head & jet4::kLvalInline) {
    if (jet4::kLvalFieldSize + uint64_t(length) > n) return Status::Corruption("inline long value exceeds its row");
    out->assign(reinterpret_cast<const char*>(field) + jet4::kLvalFieldSize, length);
    return Status::OK();
  }
  if (length == 0) return Status::OK();
  uint32_t ptr = jet4::Get32(field + 4);
  const uint8_t* page;
  RowSlot slot;
  if (head & jet4::kLvalSinglePage) {
    MDB_RETURN_IF_ERROR(LongValueRow(pager, ptr, &page, &slot));
    if (uint32_t(slot.end - slot.start) < length) return Status::Corruption("long value shorter than its length");
    out->assign(reinterpret_cast<const char*>(page) + slot.start, length);
    return Status::OK();
  }
  // A chain: each row starts with the pointer to the next one. A loop is
  // caught by comparing with a remembered row whose distance back doubles
  // (Brent), within a few times the loop's length and without memory.
  // One block of the value's size, not grown by copying; the length is only
  // a claim, trusted up to 64 MB.
  out->reserve(std::min<size_t>(length, size_t{64} << 20));
  uint32_t mark = 0;
  uint64_t steps = 0, power = 1;
  while (out->size() < length) {
    if (ptr == 0) return Status::Corruption("long value chain ends early");
    if (ptr == mark) return Status::Corruption("long value chain loops");
    if (++steps == power) {
      mark = ptr;
      power *= 2;
      steps = 0;
    }
    MDB_RETURN_IF_ERROR(LongValueRow(pager, ptr, &page, &slot));
    uint32_t size = slot.end - slot.start;
    if (size < 4) return Status::Corruption("long value chain row too short");
    uint32_t take = size - 4;
    if (take > length - out->size()) take = uint32_t(length - out->size());
    out->append(reinterpret_cast<const char*>(page) + slot.start + 4, take);
    ptr = jet4::Get32(page + slot.start);
  }
  return Status::OK();
}

}  // namespace mdb
