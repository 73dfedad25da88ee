#include "mdb/row_count.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "mdb/jet4.h"
#include "mdb/row_read.h"
#include "mdb/usage_map_read.h"

namespace mdb {

using namespace jet4;

Status CountLiveRows(Pager* pager, const TableDef& def, uint32_t* rows) {
  std::vector<uint32_t> pages;
  MDB_RETURN_IF_ERROR(ReadUsageMap(pager, def.used_pages, &pages));
  // In batches that go again after counting: inside a write the pager would
  // otherwise keep every data page of the table until the commit.
  constexpr size_t kBatch = 256;
  std::vector<uint32_t> fresh;
  uint32_t live = 0;
  for (size_t first = 0; first < pages.size(); first += kBatch) {
    const size_t n = std::min(kBatch, pages.size() - first);
    fresh.clear();
    for (size_t i = first; i < first + n; ++i)
      if (!pager->Cached(pages[i])) fresh.push_back(pages[i]);
    pager->Prefetch(pages.data() + first, n);
    for (size_t i = first; i < first + n; ++i) {
      const uint8_t* p;
      MDB_RETURN_IF_ERROR(pager->Get(pages[i], &p));
      if (p[0] != kPageData || Get32(p + kDataTdefOffset) != def.first_page) continue;
      uint16_t rows_here = DataPageRowCount(p);
      for (uint16_t r = 0; r < rows_here; ++r) {
        RowSlot slot;
        MDB_RETURN_IF_ERROR(LocateRow(p, r, &slot));
        if (!slot.deleted) ++live;
      }
    }
    pager->Release(fresh.data(), fresh.size());
  }
  *rows = live;
  return Status::OK();
}

Status CorrectRowCount(Pager* pager, TableDef* def) {
  uint32_t live;
  MDB_RETURN_IF_ERROR(CountLiveRows(pager, *def, &live));
  if (live == def->row_count) return Status::OK();
  const uint8_t* p;
  MDB_RETURN_IF_ERROR(pager->Get(def->first_page, &p));
  uint8_t buf[kPageSize];
  std::memcpy(buf, p, kPageSize);
  Put32(buf + kTdefRowCountOffset, live);
  Put32(reinterpret_cast<uint8_t*>(def->bytes.data()) + kTdefRowCountOffset, live);
  def->row_count = live;
  return pager->Put(def->first_page, buf);
}

}  // namespace mdb
