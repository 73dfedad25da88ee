#include "mdb/usage_map_read.h"

#include "mdb/jet4.h"
#include "mdb/row_read.h"

namespace mdb {

namespace {

void AddBits(const uint8_t* bits, size_t n, uint64_t first, uint32_t page_count, std::vector<uint32_t>* pages) {
  for (size_t i = 0; i < n; ++i) {
    if (bits[i] == 0) continue;
    for (int b = 0; b < 8; ++b) {
      if (!((bits[i] >> b) & 1)) continue;
      uint64_t page = first + i * 8 + b;
      if (page < page_count) pages->push_back(uint32_t(page));
    }
  }
}

}  // namespace

Status ReadUsageMapRow(Pager* pager, uint32_t ptr, std::string* map) {
  bool found;
  MDB_RETURN_IF_ERROR(FetchRow(pager, RowId{jet4::PtrPage(ptr), uint16_t(jet4::PtrRow(ptr))}, 0, map, &found));
  if (!found) return Status::Corruption("usage map row is deleted");
  return Status::OK();
}

Status DecodeUsageMap(Pager* pager, const std::string& map, uint32_t page_count, std::vector<uint32_t>* pages) {
  pages->clear();
  const uint8_t* m = reinterpret_cast<const uint8_t*>(map.data());
  if (map.empty()) return Status::Corruption("empty usage map");
  if (m[0] == jet4::kUsageMapInline) {
    if (map.size() < 5) return Status::Corruption("usage map too short");
    AddBits(m + 5, map.size() - 5, jet4::Get32(m + 1), page_count, pages);
    return Status::OK();
  }
  if (m[0] != jet4::kUsageMapReference) return Status::Corruption("usage map of unknown kind");
  uint8_t page[jet4::kPageSize];
  for (size_t i = 0; 1 + 4 * i + 4 <= map.size(); ++i) {
    uint32_t map_page = jet4::Get32(m + 1 + 4 * i);
    if (map_page == 0) continue;
    MDB_RETURN_IF_ERROR(CopyPage(pager, map_page, page));
    if (page[0] != jet4::kPageUsageMap) return Status::Corruption("usage map points to a page of another kind");
    AddBits(page + jet4::kUsageMapPageBitsOffset, jet4::kPageSize - jet4::kUsageMapPageBitsOffset,
            uint64_t(i) * jet4::kUsageMapPageBits, page_count, pages);
  }
  return Status::OK();
}

Status ReadUsageMap(Pager* pager, uint32_t ptr, std::vector<uint32_t>* pages) {
  std::string map;
  MDB_RETURN_IF_ERROR(ReadUsageMapRow(pager, ptr, &map));
  return DecodeUsageMap(pager, map, pager->page_count(), pages);
}

}  // namespace mdb
