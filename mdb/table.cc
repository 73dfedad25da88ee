#include "mdb/table_impl.h"

#include <algorithm>

#include "mdb/database_impl.h"
#include "mdb/jet4.h"
#include "mdb/row_read.h"
#include "mdb/table_scan.h"
#include "mdb/usage_map_read.h"

namespace mdb {

namespace {

// Reads run in a read transaction of their own unless the caller holds one.
class ReadScope {
 public:
  explicit ReadScope(Pager* p) : pager_(p), status_(p->BeginRead()) {}
  ~ReadScope() {
    if (status_.ok()) pager_->EndRead();
  }
  const Status& status() const { return status_; }

 private:
  Pager* pager_;
  Status status_;
};

}  // namespace

Status Cursor::GetRow(size_t n, const uint8_t* wanted, Value* out) {
  for (size_t i = 0; i < n; ++i)
    if (wanted[i]) MDB_RETURN_IF_ERROR(Get(int(i), &out[i]));
  return Status::OK();
}

Status Cursor::Length(int column, int64_t* bytes) {
  Value v;
  MDB_RETURN_IF_ERROR(Get(column, &v));
  if (IsNull(v)) *bytes = -1;
  else if (v.index() == 7) *bytes = int64_t(std::get<Binary>(v).bytes.size());
  else return Status::InvalidArgument("not a byte-block column");
  return Status::OK();
}

TableImpl::TableImpl(DatabaseImpl* db, std::u16string name, TableDef def)
    : db_(db), name_(std::move(name)), def_(std::move(def)) {
  BuildPublicView();
}

TableImpl::~TableImpl() = default;

Pager* TableImpl::pager() const { return db_->pager(); }

void TableImpl::BuildPublicView() {
  columns_.clear();
  for (const ColumnDef& c : def_.columns) columns_.push_back(c.column);
  indexes_.clear();
  for (const LogicalIndexDef& l : def_.indexes) {
    IndexInfo info;
    info.name = l.name;
    info.primary = l.kind == jet4::kIndexKindPrimary;
    info.foreign_key = l.kind == jet4::kIndexKindForeign;
    const RealIndexDef& r = def_.real_indexes[l.real_index];
    info.unique = info.primary || (r.flags & jet4::kIndexFlagUnique) != 0;
    for (const RealIndexDef::Col& rc : r.columns) {
      for (size_t i = 0; i < def_.columns.size(); ++i) {
        if (def_.columns[i].number == rc.column_number) {
          info.columns.push_back(IndexColumn{int(i), rc.ascending});
          break;
        }
      }
    }
    indexes_.push_back(std::move(info));
  }
}

int TableImpl::ColumnIndex(const std::u16string& name) const {
  for (size_t i = 0; i < columns_.size(); ++i)
    if (EqualsIgnoreCase(columns_[i].name, name)) return int(i);
  return -1;
}

uint32_t TableImpl::row_count() const {
  ReadScope scope(pager());
  const uint8_t* p;
  if (scope.status().ok() && pager()->Get(def_.first_page, &p).ok() && p[0] == jet4::kPageTdef)
    return jet4::Get32(p + jet4::kTdefRowCountOffset);
  return def_.row_count;
}

Status TableImpl::ReloadDef() {
  ReadScope scope(pager());
  MDB_RETURN_IF_ERROR(scope.status());
  TableDef d;
  MDB_RETURN_IF_ERROR(ReadTableDef(pager(), def_.first_page, &d));
  def_ = std::move(d);
  BuildPublicView();
  return Status::OK();
}

Status TableImpl::DataPages(std::vector<uint32_t>* pages) {
  ReadScope scope(pager());
  MDB_RETURN_IF_ERROR(scope.status());
  std::vector<uint32_t> all;
  MDB_RETURN_IF_ERROR(ReadUsageMap(pager(), def_.used_pages, &all));
  pages->clear();
  uint8_t page[jet4::kPageSize];
  for (uint32_t p : all) {
    MDB_RETURN_IF_ERROR(CopyPage(pager(), p, page));
    if (page[0] == jet4::kPageData && jet4::Get32(page + jet4::kDataTdefOffset) == def_.first_page)
      pages->push_back(p);
  }
  return Status::OK();
}

std::unique_ptr<Cursor> TableImpl::Scan() { return NewScanCursor(pager(), def_); }

namespace {

// Rows by id in a given order (an index's, a sort's). The ids are read in
// batches, each in page order, so rows scattered over a big table cost about
// what a scan of their pages costs while memory holds one batch of rows.
class ListCursor : public Cursor {
 public:
  ListCursor(TableImpl* t, std::vector<RowId> ids, std::vector<std::string> rows)
      : t_(t), ids_(std::move(ids)), given_(rows.size() == ids_.size() && !rows.empty()) {
    if (given_) {
      rows_ = std::move(rows);
      batch_end_ = ids_.size();
    }
  }

  bool Next() override {
    on_row_ = false;
    if (!status_.ok() || pos_ + 1 >= ids_.size()) {
      pos_ = ids_.size();
      return false;
    }
    ++pos_;
    if (pos_ >= batch_end_) status_ = LoadBatch();
    if (status_.ok()) {
      const std::string& row = rows_[pos_ - batch_start_];
      status_ = ParseRow(t_->def(), reinterpret_cast<const uint8_t*>(row.data()), row.size(), &layout_);
    }
    on_row_ = status_.ok();
    return on_row_;
  }
  Status status() const override { return status_; }
  RowId row_id() const override { return pos_ < ids_.size() ? ids_[pos_] : RowId{}; }
  const std::string* row_bytes() const override { return on_row_ ? &rows_[pos_ - batch_start_] : nullptr; }
  Status Get(int column, Value* out) override {
    const auto& columns = t_->def().columns;
    if (column < 0 || size_t(column) >= columns.size()) return Status::InvalidArgument("no such column");
    if (!on_row_) return Status::InvalidArgument("the cursor is not on a row");
    FieldRef f;
    MDB_RETURN_IF_ERROR(LocateField(layout_, columns[column], &f));
    // Only long values read pages; the row itself is in memory.
    if (f.null || (columns[column].type != uint8_t(ColumnType::kMemo) &&
                   columns[column].type != uint8_t(ColumnType::kOle)))
      return DecodeField(t_->pager(), columns[column], layout_.row, f, out);
    ReadScope scope(t_->pager());
    MDB_RETURN_IF_ERROR(scope.status());
    return DecodeField(t_->pager(), columns[column], layout_.row, f, out);
  }
  Status Length(int column, int64_t* bytes) override {
    const auto& columns = t_->def().columns;
    if (column < 0 || size_t(column) >= columns.size()) return Status::InvalidArgument("no such column");
    if (!on_row_) return Status::InvalidArgument("the cursor is not on a row");
    FieldRef f;
    MDB_RETURN_IF_ERROR(LocateField(layout_, columns[column], &f));
    return FieldLength(columns[column], layout_.row, f, bytes);
  }

 private:
  static constexpr size_t kBatch = 4096;
  static constexpr size_t kChunkPages = 32;

  Status LoadBatch() {
    // Small at first: a caller may want only the first row or two.
    batch_ = std::min(kBatch, batch_ == 0 ? size_t(16) : batch_ * 4);
    batch_start_ = pos_;
    batch_end_ = std::min(ids_.size(), pos_ + batch_);
    const size_t n = batch_end_ - batch_start_;
    rows_.assign(n, std::string());
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      const RowId& x = ids_[batch_start_ + a];
      const RowId& y = ids_[batch_start_ + b];
      return x.page != y.page ? x.page < y.page : x.row < y.row;
    });
    ReadScope scope(t_->pager());
    MDB_RETURN_IF_ERROR(scope.status());
    Pager* pager = t_->pager();
    std::vector<uint32_t> pages;
    for (size_t k = 0; k < n;) {
      // The next rows on up to 32 pages: those pages read together, then the
      // rows copied out (nothing of the pager's is held between chunks).
      pages.clear();
      size_t end = k;
      for (; end < n; ++end) {
        const uint32_t pg = ids_[batch_start_ + order[end]].page;
        if (pages.empty() || pages.back() != pg) {
          if (pages.size() == kChunkPages) break;
          pages.push_back(pg);
        }
      }
      pager->TrimCache();
      pager->Prefetch(pages.data(), pages.size());
      for (; k < end; ++k) MDB_RETURN_IF_ERROR(t_->ReadRowBytes(ids_[batch_start_ + order[k]], &rows_[order[k]]));
    }
    return Status::OK();
  }

  TableImpl* t_;
  std::vector<RowId> ids_;
  size_t pos_ = size_t(-1);
  bool given_;  // rows_ holds every row from the start
  size_t batch_ = 0, batch_start_ = 0, batch_end_ = 0;
  Status status_;
  std::vector<std::string> rows_;  // the batch's rows, in the cursor's order
  bool on_row_ = false;
  RowLayout layout_;  // of the current row
};

}  // namespace

std::unique_ptr<Cursor> TableImpl::Fetch(std::vector<RowId> ids, std::vector<std::string> rows) {
  return std::make_unique<ListCursor>(this, std::move(ids), std::move(rows));
}

Status TableImpl::ReadRowBytes(RowId id, std::string* row) {
  ReadScope scope(pager());
  MDB_RETURN_IF_ERROR(scope.status());
  bool found;
  MDB_RETURN_IF_ERROR(FetchRow(pager(), id, def_.first_page, row, &found));
  if (!found) return Status::NotFound("the row was deleted");
  return Status::OK();
}

Status TableImpl::DecodeRow(const std::string& row, std::vector<Value>* values) {
  ReadScope scope(pager());
  MDB_RETURN_IF_ERROR(scope.status());
  const uint8_t* p = reinterpret_cast<const uint8_t*>(row.data());
  std::vector<FieldRef> fields;
  MDB_RETURN_IF_ERROR(CrackRow(def_, p, row.size(), &fields));
  values->assign(def_.columns.size(), Value());
  for (size_t i = 0; i < def_.columns.size(); ++i)
    MDB_RETURN_IF_ERROR(DecodeField(pager(), def_.columns[i], p, fields[i], &(*values)[i]));
  return Status::OK();
}

Status TableImpl::Read(RowId id, int column, Value* out) {
  if (column < 0 || size_t(column) >= def_.columns.size()) return Status::InvalidArgument("no such column");
  ReadScope scope(pager());
  MDB_RETURN_IF_ERROR(scope.status());
  std::string row;
  MDB_RETURN_IF_ERROR(ReadRowBytes(id, &row));
  const uint8_t* p = reinterpret_cast<const uint8_t*>(row.data());
  std::vector<FieldRef> fields;
  MDB_RETURN_IF_ERROR(CrackRow(def_, p, row.size(), &fields));
  return DecodeField(pager(), def_.columns[column], p, fields[column], out);
}

}  // namespace mdb
