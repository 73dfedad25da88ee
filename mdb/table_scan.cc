#include "mdb/table_scan.h"

#include <algorithm>
#include <string>
#include <vector>

#include "mdb/jet4.h"
#include "mdb/row_read.h"
#include "mdb/usage_map_read.h"

namespace mdb {

namespace {

class ScanCursor : public Cursor {
 public:
  ScanCursor(Pager* pager, const TableDef& def) : pager_(pager), def_(def) {
    // The raw definition bytes are not needed to read rows.
    def_.bytes.clear();
    def_.bytes.shrink_to_fit();
  }

  bool Next() override {
    on_row_ = false;
    if (!status_.ok() || done_) return false;
    if (!started_) {
      started_ = true;
      status_ = ReadUsageMap(pager_, def_.used_pages, &pages_);
      if (!status_.ok()) return false;
    }
    for (;;) {
      if (next_row_ >= row_count_) {
        if (next_page_ >= pages_.size()) {
          done_ = true;
          return false;
        }
        // Rows are copied out, so nothing of the pager's is held between
        // pages: a long scan's memory stays flat. The next pages of the
        // table are read ahead together, skipping pages of other objects.
        if (next_page_ >= prefetched_) {
          pager_->TrimCache();
          prefetched_ = std::min(pages_.size(), next_page_ + kPrefetch);
          pager_->Prefetch(pages_.data() + next_page_, prefetched_ - next_page_);
        }
        page_no_ = pages_[next_page_++];
        status_ = CopyPage(pager_, page_no_, page_);
        if (!status_.ok()) return false;
        next_row_ = 0;
        row_count_ = 0;
        // The map may list pages the table no longer uses for rows.
        if (page_[0] != jet4::kPageData || jet4::Get32(page_ + jet4::kDataTdefOffset) != def_.first_page) continue;
        row_count_ = DataPageRowCount(page_);
        continue;
      }
      uint16_t r = next_row_++;
      RowSlot slot;
      status_ = LocateRow(page_, r, &slot);
      if (!status_.ok()) return false;
      if (slot.deleted) continue;
      if (slot.overflow) {
        bool found;
        status_ = FetchRow(pager_, RowId{page_no_, r}, def_.first_page, &row_, &found);
        if (!status_.ok()) return false;
        if (!found) continue;
      } else {
        row_.assign(reinterpret_cast<const char*>(page_) + slot.start, slot.end - slot.start);
      }
      status_ = ParseRow(def_, reinterpret_cast<const uint8_t*>(row_.data()), row_.size(), &layout_);
      if (!status_.ok()) return false;
      on_row_ = true;
      id_ = RowId{page_no_, r};
      return true;
    }
  }

  Status status() const override { return status_; }
  RowId row_id() const override { return id_; }
  const std::string* row_bytes() const override { return on_row_ ? &row_ : nullptr; }

  // Columns are found in the row only when asked for: a scan that tests one
  // column of each row pays for that one.
  Status Get(int column, Value* out) override {
    if (size_t(column) >= def_.columns.size()) return Status::InvalidArgument("no such column");
    if (!on_row_) return Status::InvalidArgument("the cursor is not on a row");
    const ColumnDef& c = def_.columns[column];
    FieldRef f;
    MDB_RETURN_IF_ERROR(LocateField(layout_, c, &f));
    return DecodeField(pager_, c, layout_.row, f, out);
  }
  Status GetRow(size_t n, const uint8_t* wanted, Value* out) override {
    if (n > def_.columns.size()) return Status::InvalidArgument("no such column");
    if (!on_row_) return Status::InvalidArgument("the cursor is not on a row");
    for (size_t i = 0; i < n; ++i) {
      if (!wanted[i]) continue;
      const ColumnDef& c = def_.columns[i];
      FieldRef f;
      MDB_RETURN_IF_ERROR(LocateField(layout_, c, &f));
      MDB_RETURN_IF_ERROR(DecodeField(pager_, c, layout_.row, f, &out[i]));
    }
    return Status::OK();
  }
  Status Length(int column, int64_t* bytes) override {
    if (column < 0 || size_t(column) >= def_.columns.size()) return Status::InvalidArgument("no such column");
    if (!on_row_) return Status::InvalidArgument("the cursor is not on a row");
    const ColumnDef& c = def_.columns[column];
    FieldRef f;
    MDB_RETURN_IF_ERROR(LocateField(layout_, c, &f));
    return FieldLength(c, layout_.row, f, bytes);
  }

 private:
  Pager* pager_;
  TableDef def_;
  Status status_;
  bool started_ = false, done_ = false;
  std::vector<uint32_t> pages_;
  static constexpr size_t kPrefetch = 128;
  size_t next_page_ = 0, prefetched_ = 0;
  uint32_t page_no_ = 0;
  uint8_t page_[jet4::kPageSize];
  uint16_t next_row_ = 0, row_count_ = 0;
  std::string row_;
  bool on_row_ = false;
  RowLayout layout_;  // of row_
  RowId id_;
};

}  // namespace

std::unique_ptr<Cursor> NewScanCursor(Pager* pager, const TableDef& def) {
  return std::make_unique<ScanCursor>(pager, def);
}

}  // namespace mdb
