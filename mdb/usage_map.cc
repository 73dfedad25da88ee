#include "mdb/usage_map.h"

#include <cstring>

#include "mdb/jet4.h"
#include "mdb/page_claims.h"
#include "mdb/page_space.h"

namespace mdb {

using namespace jet4;

namespace {

Status ReadRow(Pager* pager, uint32_t ptr, std::string* row) {
  uint32_t page = PtrPage(ptr), n = PtrRow(ptr);
  if (page == 0 || page >= pager->page_count()) return Status::Corruption("usage map points outside the file");
  const uint8_t* p;
  MDB_RETURN_IF_ERROR(pager->Get(page, &p));
  if (p[0] != kPageData) return Status::Corruption("usage map row is not on a data page");
  uint16_t count = Get16(p + kDataRowCountOffset);
  if (n >= count || kDataPageHeader + 2u * count > kPageSize) return Status::Corruption("usage map row missing");
  uint32_t start = Get16(p + kDataRowTableOffset + 2 * n) & kRowOffsetMask;
  uint32_t end = n == 0 ? kPageSize : Get16(p + kDataRowTableOffset + 2 * (n - 1)) & kRowOffsetMask;
  if (start >= end || end > kPageSize) return Status::Corruption("usage map row has a bad size");
  row->assign(reinterpret_cast<const char*>(p + start), end - start);
  if (row->size() < 5) return Status::Corruption("usage map row too short");
  if (uint8_t((*row)[0]) > 1) return Status::Corruption("unknown usage map form");
  return Status::OK();
}

const uint8_t* U8(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

}  // namespace

Status UsageMap::Load(Pager* pager, uint32_t ptr, UsageMap* out) {
  out->ptr_ = ptr;
  return ReadRow(pager, ptr, &out->row_);
}

Status UsageMap::Pages(Pager* pager, uint32_t limit, std::vector<uint32_t>* out) const {
  out->clear();
  const uint8_t* r = U8(row_);
  if (inline_form()) {
    uint32_t start = Get32(r + 1);
    for (size_t i = 5; i < row_.size(); ++i)
      for (int b = 0; b < 8; ++b)
        if (r[i] >> b & 1) {
          uint64_t pg = uint64_t(start) + (i - 5) * 8 + b;
          if (pg < limit) out->push_back(uint32_t(pg));
        }
    return Status::OK();
  }
  for (size_t k = 0; 1 + 4 * k + 4 <= row_.size(); ++k) {
    uint32_t mp = Get32(r + 1 + 4 * k);
    if (mp == 0) continue;
    if (mp >= pager->page_count()) return Status::Corruption("usage map page outside the file");
    const uint8_t* p;
    MDB_RETURN_IF_ERROR(pager->Get(mp, &p));
    if (p[0] != kPageUsageMap) return Status::Corruption("usage map page of the wrong kind");
    uint64_t base = uint64_t(k) * kUsageMapPageBits;
    for (uint32_t i = kUsageMapPageBitsOffset; i < kPageSize; ++i) {
      if (!p[i]) continue;
      for (int b = 0; b < 8; ++b)
        if (p[i] >> b & 1) {
          uint64_t pg = base + uint64_t(i - kUsageMapPageBitsOffset) * 8 + b;
          if (pg < limit) out->push_back(uint32_t(pg));
        }
    }
  }
  return Status::OK();
}

Status UsageMap::ListMapPages(std::vector<uint32_t>* out) const {
  out->clear();
  if (inline_form()) return Status::OK();
  const uint8_t* r = U8(row_);
  for (size_t k = 0; 1 + 4 * k + 4 <= row_.size(); ++k)
    if (uint32_t mp = Get32(r + 1 + 4 * k)) out->push_back(mp);
  return Status::OK();
}

Status UsageMap::Contains(Pager* pager, uint32_t page, bool* yes) const {
  *yes = false;
  const uint8_t* r = U8(row_);
  if (inline_form()) {
    uint32_t start = Get32(r + 1);
    if (page < start) return Status::OK();
    uint64_t bit = page - start;
    if (bit >= (row_.size() - 5) * 8) return Status::OK();
    *yes = r[5 + bit / 8] >> (bit % 8) & 1;
    return Status::OK();
  }
  uint32_t k = page / kUsageMapPageBits;
  if (1 + 4 * k + 4 > row_.size()) return Status::OK();
  uint32_t mp = Get32(r + 1 + 4 * k);
  if (mp == 0) return Status::OK();
  if (mp >= pager->page_count()) return Status::Corruption("usage map page outside the file");
  const uint8_t* p;
  MDB_RETURN_IF_ERROR(pager->Get(mp, &p));
  uint32_t bit = page % kUsageMapPageBits;
  *yes = p[kUsageMapPageBitsOffset + bit / 8] >> (bit % 8) & 1;
  return Status::OK();
}

Status UsageMap::Store(Pager* pager) {
  const uint8_t* p;
  MDB_RETURN_IF_ERROR(pager->Get(PtrPage(ptr_), &p));
  uint8_t copy[kPageSize];
  std::memcpy(copy, p, kPageSize);
  uint16_t row = uint16_t(PtrRow(ptr_));
  uint16_t flags = Get16(copy + kDataRowTableOffset + 2 * row) & ~kRowOffsetMask;
  MDB_RETURN_IF_ERROR(ReplaceRow(copy, row, row_, flags));
  return pager->Put(PtrPage(ptr_), copy);
}

Status UsageMap::ToReferenceForm(Pager* pager) {
  std::vector<uint32_t> pages;
  MDB_RETURN_IF_ERROR(Pages(pager, UINT32_MAX, &pages));
  std::string row(row_.size(), '\0');
  row[0] = char(kUsageMapReference);
  row_ = row;
  for (uint32_t pg : pages) MDB_RETURN_IF_ERROR(Set(pager, pg, true));
  return Store(pager);
}

Status UsageMap::Set(Pager* pager, uint32_t page, bool value, bool exact) {
  uint8_t* r = reinterpret_cast<uint8_t*>(row_.data());
  if (inline_form()) {
    uint32_t start = Get32(r + 1);
    uint64_t bits = (row_.size() - 5) * 8;
    if (page >= start && page - start < bits) {
      uint64_t bit = page - start;
      uint8_t before = r[5 + bit / 8];
      if (value) r[5 + bit / 8] |= uint8_t(1 << (bit % 8));
      else r[5 + bit / 8] &= uint8_t(~(1 << (bit % 8)));
      if (before == r[5 + bit / 8]) return Status::OK();
      return Store(pager);
    }
    if (!value || !exact) return Status::OK();
    // An empty map can simply start at the page.
    bool empty = true;
    for (size_t i = 5; i < row_.size(); ++i) empty = empty && r[i] == 0;
    if (empty) {
      Put32(r + 1, page - page % 8);
      return Set(pager, page, value, exact);
    }
    MDB_RETURN_IF_ERROR(ToReferenceForm(pager));
    return Set(pager, page, value, exact);
  }
  uint32_t k = page / kUsageMapPageBits;
  if (1 + 4 * k + 4 > row_.size()) {
    if (!value || !exact) return Status::OK();
    return Status::NotSupported("page number beyond what a usage map can list");
  }
  uint32_t mp = Get32(r + 1 + 4 * k);
  uint8_t buf[kPageSize];
  if (mp == 0) {
    if (!value) return Status::OK();
    MDB_RETURN_IF_ERROR(AllocatePage(pager, &mp));
    std::memset(buf, 0, kPageSize);
    buf[0] = kPageUsageMap;
    buf[1] = 0x01;
    Put32(r + 1 + 4 * k, mp);
    MDB_RETURN_IF_ERROR(Store(pager));
  } else {
    if (mp >= pager->page_count()) return Status::Corruption("usage map page outside the file");
    const uint8_t* p;
    MDB_RETURN_IF_ERROR(pager->Get(mp, &p));
    if (p[0] != kPageUsageMap) return Status::Corruption("usage map page of the wrong kind");
    std::memcpy(buf, p, kPageSize);
  }
  uint32_t bit = page % kUsageMapPageBits;
  uint8_t& byte = buf[kUsageMapPageBitsOffset + bit / 8];
  uint8_t before = byte;
  if (value) byte |= uint8_t(1 << (bit % 8));
  else byte &= uint8_t(~(1 << (bit % 8)));
  if (before == byte) return Status::OK();
  return pager->Put(mp, buf);
}

Status AllocatePage(Pager* pager, uint32_t* page) {
  UsageMap free_map;
  MDB_RETURN_IF_ERROR(UsageMap::Load(pager, kFreePageMapPtr, &free_map));
  std::vector<uint32_t> free_pages;
  MDB_RETURN_IF_ERROR(free_map.Pages(pager, pager->page_count(), &free_pages));
  for (uint32_t pg : free_pages) {
    if (pg < 3) continue;  // header, the free map's own page, the catalog
    // One wrong bit must not hand a live page to a second owner.
    std::string owner;
    MDB_RETURN_IF_ERROR(FindPageClaim(pager, pg, &owner));
    if (!owner.empty())
      return Status::Corruption("page " + std::to_string(pg) + " is listed as free but still belongs to " + owner +
                                "; the database needs a repair");
    MDB_RETURN_IF_ERROR(free_map.Set(pager, pg, false, false));
    *page = pg;
    return Status::OK();
  }
  MDB_RETURN_IF_ERROR(pager->Append(page));
  // The map lists pages past the end of the file as free.
  return free_map.Set(pager, *page, false, false);
}

Status ReleasePage(Pager* pager, uint32_t page) {
  uint8_t blank[kPageSize] = {};
  MDB_RETURN_IF_ERROR(pager->Put(page, blank));
  UsageMap free_map;
  MDB_RETURN_IF_ERROR(UsageMap::Load(pager, kFreePageMapPtr, &free_map));
  return free_map.Set(pager, page, true, false);
}

Status MapPages(Pager* pager, uint32_t ptr, std::vector<uint32_t>* out) {
  out->clear();
  if (ptr == 0) return Status::OK();
  UsageMap m;
  MDB_RETURN_IF_ERROR(UsageMap::Load(pager, ptr, &m));
  return m.Pages(pager, pager->page_count(), out);
}

}  // namespace mdb
