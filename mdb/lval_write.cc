#include "mdb/lval_write.h"

#include <cstring>
#include <vector>

#include "mdb/jet4.h"
#include "mdb/page_space.h"

namespace mdb {

using namespace jet4;

namespace {

// A chain row: 4-byte pointer to the next row, then data.
constexpr size_t kChainChunk = kPageSize - kDataPageHeader - 2 - 4;
constexpr size_t kSingleMax = kPageSize - kDataPageHeader - 2;

constexpr size_t kPlaceRowCandidates = 8;

const uint8_t* U8(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

Status LoadMap(Pager* pager, uint32_t ptr, UsageMap* m, UsageMap** out) {
  *out = nullptr;
  if (ptr == 0) return Status::OK();
  MDB_RETURN_IF_ERROR(UsageMap::Load(pager, ptr, m));
  *out = m;
  return Status::OK();
}

Status RowBytes(const uint8_t* p, uint16_t row, std::string_view* out, uint16_t* flags) {
  uint16_t n = Get16(p + kDataRowCountOffset);
  if (row >= n || kDataPageHeader + 2u * n > kPageSize) return Status::Corruption("long-value row missing");
  uint16_t raw = Get16(p + kDataRowTableOffset + 2 * row);
  uint32_t start = raw & kRowOffsetMask;
  uint32_t end = row == 0 ? kPageSize : Get16(p + kDataRowTableOffset + 2 * (row - 1)) & kRowOffsetMask;
  if (start > end || end > kPageSize) return Status::Corruption("long-value row has a bad size");
  *out = std::string_view(reinterpret_cast<const char*>(p + start), end - start);
  *flags = raw & ~kRowOffsetMask;
  return Status::OK();
}

}  // namespace

Status ReadLongValueMaps(const TableDef& def, uint16_t column_number, LongValueMaps* out) {
  *out = LongValueMaps();
  const std::string& b = def.bytes;
  for (size_t o = def.end_offset; o + 10 <= b.size(); o += 10) {
    const uint8_t* p = U8(b) + o;
    uint16_t c = Get16(p);
    if (c == 0xFFFF) break;
    if (c == column_number) {
      out->used = Get32(p + 2);
      out->free = Get32(p + 6);
      return Status::OK();
    }
  }
  return Status::OK();
}

Status PlaceRow(Pager* pager, UsageMap* used_map, UsageMap* free_map, uint32_t owner,
                std::string_view bytes, uint16_t flags, uint32_t* page, uint16_t* row) {
  if (free_map) {
    std::vector<uint32_t> candidates;
    MDB_RETURN_IF_ERROR(free_map->Pages(pager, pager->page_count(), &candidates));
    // A bounded look, newest pages first: pages the map still lists but
    // that are nearly full must not make every insert read them all.
    size_t looked = 0;
    for (auto it = candidates.rbegin(); it != candidates.rend() && looked < kPlaceRowCandidates; ++it, ++looked) {
      uint32_t pg = *it;
      const uint8_t* p;
      MDB_RETURN_IF_ERROR(pager->Get(pg, &p));
      if (p[0] != kPageData || Get32(p + kDataTdefOffset) != owner) continue;
      if (!RowFits(p, bytes.size())) {
        // Every row number used: the page can take no row again.
        if (Get16(p + kDataRowCountOffset) >= kMaxRowsPerPage) MDB_RETURN_IF_ERROR(free_map->Set(pager, pg, false));
        continue;
      }
      uint8_t buf[kPageSize];
      std::memcpy(buf, p, kPageSize);
      MDB_RETURN_IF_ERROR(AddRow(buf, bytes, flags, row));
      MDB_RETURN_IF_ERROR(pager->Put(pg, buf));
      if (DataPageFreeSpace(buf) < 64) MDB_RETURN_IF_ERROR(free_map->Set(pager, pg, false));
      *page = pg;
      return Status::OK();
    }
  }
  uint32_t pg;
  MDB_RETURN_IF_ERROR(AllocatePage(pager, &pg));
  uint8_t buf[kPageSize];
  InitDataPage(buf, owner);
  MDB_RETURN_IF_ERROR(AddRow(buf, bytes, flags, row));
  MDB_RETURN_IF_ERROR(pager->Put(pg, buf));
  if (used_map) MDB_RETURN_IF_ERROR(used_map->Set(pager, pg, true));
  if (free_map && DataPageFreeSpace(buf) >= 64) MDB_RETURN_IF_ERROR(free_map->Set(pager, pg, true));
  *page = pg;
  return Status::OK();
}

Status WriteLongValue(Pager* pager, const LongValueMaps& maps, std::string_view data,
                      size_t inline_limit, std::string* field) {
  if (data.size() > kMaxLongValueWrite) return Status::InvalidArgument("long value larger than 256 MB");
  field->assign(kLvalFieldSize, '\0');
  uint8_t* f = reinterpret_cast<uint8_t*>(field->data());
  uint32_t len = uint32_t(data.size());
  if (data.size() <= inline_limit) {
    Put32(f, len | kLvalInline);
    field->append(data);
    return Status::OK();
  }
  UsageMap used_m, free_m;
  UsageMap *used, *free_map;
  MDB_RETURN_IF_ERROR(LoadMap(pager, maps.used, &used_m, &used));
  MDB_RETURN_IF_ERROR(LoadMap(pager, maps.free, &free_m, &free_map));
  if (data.size() <= kSingleMax) {
    uint32_t pg;
    uint16_t row;
    MDB_RETURN_IF_ERROR(PlaceRow(pager, used, free_map, kLvalMarker, data, 0, &pg, &row));
    Put32(f, len | kLvalSinglePage);
    Put32(f + 4, MakePtr(pg, row));
    return Status::OK();
  }
  // A chain, written back to front so each row knows its successor.
  size_t chunks = (data.size() + kChainChunk - 1) / kChainChunk;
  uint32_t next = 0;
  for (size_t k = chunks; k-- > 0;) {
    size_t off = k * kChainChunk;
    size_t n = std::min(kChainChunk, data.size() - off);
    std::string row(4, '\0');
    Put32(reinterpret_cast<uint8_t*>(row.data()), next);
    row.append(data.substr(off, n));
    uint32_t pg;
    uint16_t r;
    MDB_RETURN_IF_ERROR(PlaceRow(pager, used, nullptr, kLvalMarker, row, 0, &pg, &r));
    next = MakePtr(pg, r);
  }
  Put32(f, len);
  Put32(f + 4, next);
  return Status::OK();
}

Status WalkLongValue(Pager* pager, std::string_view field,
                     const std::function<Status(uint32_t, uint16_t, size_t)>& visit) {
  if (field.size() < kLvalFieldSize) return Status::Corruption("long-value field too short");
  const uint8_t* f = U8(field);
  uint32_t head = Get32(f);
  uint32_t len = head & kLvalLengthMask;
  if (head & kLvalInline) {
    if (field.size() - kLvalFieldSize < len) return Status::Corruption("inline long value shorter than its length");
    return Status::OK();
  }
  uint32_t ptr = Get32(f + 4);
  size_t total = 0;
  size_t hops = 0;
  size_t max_hops = len / 1 + 2;
  while (ptr != 0) {
    if (++hops > max_hops || hops > pager->page_count()) return Status::Corruption("long-value chain loops");
    uint32_t pg = PtrPage(ptr);
    uint16_t row = uint16_t(PtrRow(ptr));
    if (pg == 0 || pg >= pager->page_count()) return Status::Corruption("long-value pointer outside the file");
    const uint8_t* p;
    MDB_RETURN_IF_ERROR(pager->Get(pg, &p));
    if (p[0] != kPageData || Get32(p + kDataTdefOffset) != kLvalMarker)
      return Status::Corruption("long-value pointer to a page that holds no long values");
    std::string_view bytes;
    uint16_t flags;
    MDB_RETURN_IF_ERROR(RowBytes(p, row, &bytes, &flags));
    if (flags & kRowDeleted) return Status::Corruption("long value points at a deleted row");
    if (head & kLvalSinglePage) {
      total += bytes.size();
      MDB_RETURN_IF_ERROR(visit(pg, row, bytes.size()));
      ptr = 0;
    } else {
      if (bytes.size() < 4) return Status::Corruption("long-value chain row too short");
      total += bytes.size() - 4;
      MDB_RETURN_IF_ERROR(visit(pg, row, bytes.size()));
      ptr = Get32(U8(bytes));
    }
  }
  if (total < len) return Status::Corruption("long value shorter than its recorded length");
  return Status::OK();
}

Status FreeLongValue(Pager* pager, const LongValueMaps& maps, std::string_view field) {
  if (field.size() < kLvalFieldSize) return Status::OK();
  if (Get32(U8(field)) & kLvalInline) return Status::OK();
  std::vector<std::pair<uint32_t, uint16_t>> rows;
  MDB_RETURN_IF_ERROR(WalkLongValue(pager, field, [&](uint32_t pg, uint16_t row, size_t) {
    rows.emplace_back(pg, row);
    return Status::OK();
  }));
  UsageMap used_m, free_m;
  UsageMap *used, *free_map;
  MDB_RETURN_IF_ERROR(LoadMap(pager, maps.used, &used_m, &used));
  MDB_RETURN_IF_ERROR(LoadMap(pager, maps.free, &free_m, &free_map));
  for (auto [pg, row] : rows) {
    const uint8_t* p;
    MDB_RETURN_IF_ERROR(pager->Get(pg, &p));
    uint8_t buf[kPageSize];
    std::memcpy(buf, p, kPageSize);
    MDB_RETURN_IF_ERROR(DeleteRow(buf, row));
    bool any_live = false;
    for (uint16_t r = 0; r < Get16(buf + kDataRowCountOffset); ++r) any_live = any_live || RowLive(buf, r);
    if (!any_live) {
      if (used) MDB_RETURN_IF_ERROR(used->Set(pager, pg, false));
      if (free_map) MDB_RETURN_IF_ERROR(free_map->Set(pager, pg, false));
      MDB_RETURN_IF_ERROR(ReleasePage(pager, pg));
    } else {
      MDB_RETURN_IF_ERROR(pager->Put(pg, buf));
      if (free_map && DataPageFreeSpace(buf) >= 64) MDB_RETURN_IF_ERROR(free_map->Set(pager, pg, true));
    }
  }
  return Status::OK();
}

}  // namespace mdb
