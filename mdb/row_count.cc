#include "mdb/row_count.h"

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
  pager->Prefetch(pages.data(), pages.size());
  uint32_t live = 0;
  for (uint32_t pg : pages) {
    const uint8_t* p;
    MDB_RETURN_IF_ERROR(pager->Get(pg, &p));
    if (p[0] != kPageData || Get32(p + kDataTdefOffset) != def.first_page) continue;
    uint16_t n = DataPageRowCount(p);
    for (uint16_t r = 0; r < n; ++r) {
      RowSlot slot;
      MDB_RETURN_IF_ERROR(LocateRow(p, r, &slot));
      if (!slot.deleted) ++live;
    }
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
