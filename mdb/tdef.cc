#include "mdb/tdef.h"

#include <algorithm>
#include <set>

#include "mdb/jet4.h"
#include "mdb/row_read.h"

namespace mdb {

namespace {

// Most pages one definition may span; Access needs only a few.
constexpr size_t kMaxTdefPages = 64;

char16_t FoldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }

Status ReadName(const std::string& b, uint32_t* pos, std::u16string* name) {
  if (*pos + 2 > b.size()) return Status::Corruption("table definition truncated in a name");
  const uint8_t* p = reinterpret_cast<const uint8_t*>(b.data());
  uint32_t len = jet4::Get16(p + *pos);
  *pos += 2;
  if (len % 2 != 0 || *pos + len > b.size()) return Status::Corruption("table definition has a bad name length");
  name->clear();
  for (uint32_t i = 0; i < len; i += 2) name->push_back(char16_t(jet4::Get16(p + *pos + i)));
  *pos += len;
  return Status::OK();
}

// The size a fixed column of this type takes in the row.
uint16_t FixedSize(uint8_t type) {
  switch (ColumnType(type)) {
    case ColumnType::kBool: return 0;
    case ColumnType::kByte: return 1;
    case ColumnType::kInt: return 2;
    case ColumnType::kLong: case ColumnType::kFloat: return 4;
    case ColumnType::kMoney: case ColumnType::kDouble: case ColumnType::kDateTime: return 8;
    case ColumnType::kGuid: return 16;
    case ColumnType::kNumeric: return 17;
    default: return 0;
  }
}

}  // namespace

bool EqualsIgnoreCase(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

const ColumnDef* TableDef::FindColumn(const std::u16string& name) const {
  for (const ColumnDef& c : columns)
    if (EqualsIgnoreCase(c.column.name, name)) return &c;
  return nullptr;
}

Status ParseTableDef(const std::string& b, TableDef* out) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(b.data());
  if (b.size() < jet4::kTdefHeaderEnd) return Status::Corruption("table definition too short");
  if (p[0] != jet4::kPageTdef) return Status::Corruption("not a table definition page");
  TableDef& d = *out;
  d.row_count = jet4::Get32(p + jet4::kTdefRowCountOffset);
  d.next_autonumber = jet4::Get32(p + jet4::kTdefAutonumberOffset);
  d.table_type = p[jet4::kTdefTableTypeOffset];
  d.max_cols = jet4::Get16(p + jet4::kTdefMaxColsOffset);
  d.var_col_count = jet4::Get16(p + jet4::kTdefVarColsOffset);
  uint32_t col_count = jet4::Get16(p + jet4::kTdefColCountOffset);
  d.logical_index_count = jet4::Get32(p + jet4::kTdefIndexCountOffset);
  d.real_index_count = jet4::Get32(p + jet4::kTdefRealIndexCountOffset);
  d.used_pages = jet4::Get32(p + jet4::kTdefUsedPagesOffset);
  d.free_pages = jet4::Get32(p + jet4::kTdefFreePagesOffset);

  // Each count must fit in the bytes it describes before anything is sized by it.
  const uint64_t size = b.size();
  if (uint64_t(d.real_index_count) * (jet4::kRealIndexCountEntrySize + jet4::kRealIndexEntrySize) > size ||
      uint64_t(d.logical_index_count) * (jet4::kLogicalIndexEntrySize + 2) > size ||
      uint64_t(col_count) * (jet4::kColumnEntrySize + 2) > size)
    return Status::Corruption("table definition counts exceed its length");

  uint32_t pos = jet4::kTdefHeaderEnd;
  std::vector<uint32_t> real_rows(d.real_index_count);
  for (uint32_t i = 0; i < d.real_index_count; ++i) {
    if (pos + jet4::kRealIndexCountEntrySize > size) return Status::Corruption("table definition truncated");
    real_rows[i] = jet4::Get32(p + pos + jet4::kRealIndexUniqueCountOffset);
    pos += jet4::kRealIndexCountEntrySize;
  }

  d.columns.clear();
  d.columns.resize(col_count);
  for (uint32_t i = 0; i < col_count; ++i) {
    if (pos + jet4::kColumnEntrySize > size) return Status::Corruption("table definition truncated in columns");
    const uint8_t* e = p + pos;
    ColumnDef& c = d.columns[i];
    c.entry_offset = pos;
    c.type = e[jet4::kColTypeOffset];
    c.number = jet4::Get16(e + jet4::kColNumberOffset);
    c.var_index = jet4::Get16(e + jet4::kColVarIndexOffset);
    c.index = jet4::Get16(e + jet4::kColIndexOffset);
    c.sort_order = jet4::Get16(e + jet4::kColMiscOffset);
    c.code_page = jet4::Get16(e + jet4::kColCodePageOffset);
    c.sort_version = e[jet4::kColMiscOffset + 3];
    if (c.type == uint8_t(ColumnType::kText) || c.type == uint8_t(ColumnType::kMemo)) {
      c.column.sort_order = c.sort_order;
      c.column.sort_version = c.sort_version;
    }
    c.flags = e[jet4::kColFlagsOffset];
    c.ext_flags = e[jet4::kColExtFlagsOffset];
    c.fixed_offset = jet4::Get16(e + jet4::kColFixedOffsetOffset);
    c.length = jet4::Get16(e + jet4::kColLengthOffset);
    c.column.type = ColumnType(c.type);
    c.column.fixed = (c.flags & jet4::kColFlagFixed) != 0;
    c.column.autonumber = (c.flags & jet4::kColFlagAutonumber) != 0;
    c.column.compressed_unicode = (c.ext_flags & jet4::kColExtCompressed) != 0;
    c.column.size = c.column.fixed && FixedSize(c.type) ? FixedSize(c.type) : c.length;
    if (c.type == uint8_t(ColumnType::kNumeric)) {
      c.column.precision = e[jet4::kColMiscOffset];
      c.column.scale = e[jet4::kColMiscOffset + 1];
    }
    pos += jet4::kColumnEntrySize;
  }
  for (uint32_t i = 0; i < col_count; ++i) MDB_RETURN_IF_ERROR(ReadName(b, &pos, &d.columns[i].column.name));

  d.real_indexes.clear();
  d.real_indexes.resize(d.real_index_count);
  for (uint32_t i = 0; i < d.real_index_count; ++i) {
    if (pos + jet4::kRealIndexEntrySize > size) return Status::Corruption("table definition truncated in indexes");
    const uint8_t* e = p + pos;
    RealIndexDef& r = d.real_indexes[i];
    r.number = int(i);
    r.entry_offset = pos;
    r.unique_count = real_rows[i];
    for (uint32_t k = 0; k < jet4::kRealIndexMaxColumns; ++k) {
      const uint8_t* ce = e + jet4::kRealIndexColumnsOffset + 3 * k;
      uint16_t num = jet4::Get16(ce);
      if (num == jet4::kRealIndexNoColumn) continue;
      r.columns.push_back({num, ce[2] == jet4::kIndexOrderAscending});
    }
    r.used_pages = jet4::Get32(e + jet4::kRealIndexUsedPagesOffset);
    r.first_page = jet4::Get32(e + jet4::kRealIndexFirstPageOffset);
    r.flags = e[jet4::kRealIndexFlagsOffset];
    pos += jet4::kRealIndexEntrySize;
  }

  d.indexes.clear();
  d.indexes.resize(d.logical_index_count);
  for (uint32_t i = 0; i < d.logical_index_count; ++i) {
    if (pos + jet4::kLogicalIndexEntrySize > size) return Status::Corruption("table definition truncated in indexes");
    const uint8_t* e = p + pos;
    LogicalIndexDef& l = d.indexes[i];
    l.entry_offset = pos;
    l.number = int(jet4::Get32(e + jet4::kLogicalIndexNumberOffset));
    uint32_t real = jet4::Get32(e + jet4::kLogicalIndexRealOffset);
    if (real >= d.real_index_count) return Status::Corruption("index refers to a missing index entry");
    l.real_index = int(real);
    l.rel_table_type = e[jet4::kLogicalIndexRelTypeOffset];
    l.rel_index = int32_t(jet4::Get32(e + jet4::kLogicalIndexRelIndexOffset));
    l.rel_table_page = jet4::Get32(e + jet4::kLogicalIndexRelTableOffset);
    l.cascade_updates = e[jet4::kLogicalIndexCascadeUpdOffset] == jet4::kCascadeFlag;
    l.cascade_deletes = e[jet4::kLogicalIndexCascadeDelOffset] == jet4::kCascadeFlag;
    l.kind = e[jet4::kLogicalIndexKindOffset];
    pos += jet4::kLogicalIndexEntrySize;
  }
  for (uint32_t i = 0; i < d.logical_index_count; ++i) MDB_RETURN_IF_ERROR(ReadName(b, &pos, &d.indexes[i].name));
  d.end_offset = pos;

  std::stable_sort(d.columns.begin(), d.columns.end(),
                   [](const ColumnDef& a, const ColumnDef& b) { return a.number < b.number; });
  return Status::OK();
}

Status ReadTableDef(Pager* pager, uint32_t page, TableDef* out) {
  const uint32_t page_count = pager->page_count();
  if (page == 0 || page >= page_count) return Status::Corruption("table definition page out of range");
  std::string bytes;
  std::vector<uint32_t> pages;
  std::set<uint32_t> seen;
  uint32_t next = page;
  while (next != 0) {
    if (next >= page_count) return Status::Corruption("table definition chain leaves the file");
    if (!seen.insert(next).second) return Status::Corruption("table definition chain loops");
    if (pages.size() >= kMaxTdefPages) return Status::Corruption("table definition chain too long");
    uint8_t data[jet4::kPageSize];
    MDB_RETURN_IF_ERROR(CopyPage(pager, next, data));
    if (data[0] != jet4::kPageTdef) return Status::Corruption("table definition chain reaches a page of another kind");
    if (pages.empty())
      bytes.append(reinterpret_cast<const char*>(data), jet4::kPageSize);
    else
      bytes.append(reinterpret_cast<const char*>(data) + jet4::kTdefContinuationData,
                   jet4::kPageSize - jet4::kTdefContinuationData);
    pages.push_back(next);
    next = jet4::Get32(data + jet4::kTdefNextPageOffset);
  }
  TableDef d;
  MDB_RETURN_IF_ERROR(ParseTableDef(bytes, &d));
  d.first_page = page;
  d.pages = std::move(pages);
  d.bytes = std::move(bytes);
  *out = std::move(d);
  return Status::OK();
}

}  // namespace mdb
