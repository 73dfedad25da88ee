#include "mdb/table_layout.h"

#include <algorithm>
#include <cstring>

#include "mdb/index.h"
#include "mdb/jet4.h"
#include "mdb/page_space.h"

namespace mdb {

using namespace jet4;

namespace {

// Values every definition Access writes carries.
constexpr uint32_t kTdefMagic = 0x0659;       // tdef offset 12, each column and logical index
constexpr uint32_t kRealIndexMagic = 0x0783;  // each real index
constexpr uint8_t kTdefUnknown24 = 0x01;
constexpr uint32_t kTdefUserTablesField36 = 0xFFFFFFFF;
constexpr uint8_t kLogicalIndexNoCascade = 0x04;  // both cascade bytes of an index that is no foreign key

bool IsLongValue(ColumnType t) { return t == ColumnType::kMemo || t == ColumnType::kOle; }
bool IsVariable(ColumnType t) {
  return t == ColumnType::kText || t == ColumnType::kMemo || t == ColumnType::kOle || t == ColumnType::kBinary;
}

void Put16s(std::string* s, uint16_t v) {
  s->push_back(char(v));
  s->push_back(char(v >> 8));
}
void Put32s(std::string* s, uint32_t v) {
  Put16s(s, uint16_t(v));
  Put16s(s, uint16_t(v >> 16));
}
void PutName(std::string* s, const std::u16string& n) {
  Put16s(s, uint16_t(n.size() * 2));
  for (char16_t c : n) Put16s(s, c);
}

// Names compare as the definition sorts its logical indexes: ASCII case
// folded, then by code unit.
bool NameBefore(const std::u16string& a, const std::u16string& b) {
  auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; };
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [&](char16_t x, char16_t y) { return fold(x) < fold(y); });
}

// Columns in number order, where fixed offsets and variable slots are counted.
std::vector<const ColumnLayout*> ByNumber(const TableLayout& t) {
  std::vector<const ColumnLayout*> cols;
  for (const ColumnLayout& c : t.columns) cols.push_back(&c);
  std::sort(cols.begin(), cols.end(), [](auto* a, auto* b) { return a->number < b->number; });
  return cols;
}

}  // namespace

uint16_t MapRowCount(const TableLayout& t) {
  size_t n = 2 + t.real.size();
  for (const ColumnLayout& c : t.columns) n += IsLongValue(c.type) ? 2 : 0;
  return uint16_t(n);
}

std::string EmptyMapRow() { return std::string(1 + 4 + 64, '\0'); }

Status BuildTableDefinition(const TableLayout& t, uint16_t sort_order, uint8_t* page) {
  if (t.roots.size() != t.real.size()) return Status::InvalidArgument("one root page per index expected");
  std::vector<const ColumnLayout*> by_number = ByNumber(t);
  uint16_t max_number = 0, var_count = 0;
  for (const ColumnLayout* c : by_number) {
    max_number = std::max<uint16_t>(max_number, uint16_t(c->number + 1));
    var_count += IsVariable(c->type);
  }
  // Map rows: used, free, long values in column order, then the indexes.
  std::vector<std::pair<uint16_t, uint16_t>> lv_rows;  // column number -> first of its two rows
  uint16_t row = uint16_t(t.first_map_row + 2);
  for (const ColumnLayout* c : by_number)
    if (IsLongValue(c->type)) {
      lv_rows.push_back({c->number, row});
      row = uint16_t(row + 2);
    }
  const uint16_t first_index_row = row;

  std::string b(kTdefHeaderEnd, '\0');
  uint8_t* h = reinterpret_cast<uint8_t*>(b.data());
  h[0] = kPageTdef;
  h[1] = 0x01;
  Put32(h + 12, kTdefMagic);
  h[24] = kTdefUnknown24;
  if (!t.system) Put32(h + 36, kTdefUserTablesField36);
  h[kTdefTableTypeOffset] = t.system ? kTableTypeSystem : kTableTypeUser;
  Put16(h + kTdefMaxColsOffset, max_number);
  Put16(h + kTdefVarColsOffset, var_count);
  Put16(h + kTdefColCountOffset, uint16_t(t.columns.size()));
  Put32(h + kTdefIndexCountOffset, uint32_t(t.logical.size()));
  Put32(h + kTdefRealIndexCountOffset, uint32_t(t.real.size()));
  Put32(h + kTdefUsedPagesOffset, MakePtr(t.map_page, t.first_map_row));
  Put32(h + kTdefFreePagesOffset, MakePtr(t.map_page, t.first_map_row + 1u));
  b += std::string(kRealIndexCountEntrySize * t.real.size(), '\0');

  for (const ColumnLayout& c : t.columns) {
    uint16_t fixed_offset = 0, var_index = 0;
    bool variable = IsVariable(c.type);
    for (const ColumnLayout* o : by_number) {
      if (o->number >= c.number) break;
      if (IsVariable(o->type)) ++var_index;
      else if (o->type != ColumnType::kBool) fixed_offset = uint16_t(fixed_offset + o->length);
    }
    std::string e(kColumnEntrySize, '\0');
    uint8_t* p = reinterpret_cast<uint8_t*>(e.data());
    p[kColTypeOffset] = uint8_t(c.type);
    Put32(p + 1, kTdefMagic);
    Put16(p + kColNumberOffset, c.number);
    Put16(p + kColVarIndexOffset, var_index);
    Put16(p + kColIndexOffset, t.system ? 0 : c.number);
    Put16(p + kColMiscOffset, sort_order);
    p[kColFlagsOffset] = c.flags;
    p[kColExtFlagsOffset] = c.compressed ? kColExtCompressed : 0;
    if (!variable && c.type != ColumnType::kBool) Put16(p + kColFixedOffsetOffset, fixed_offset);
    Put16(p + kColLengthOffset, c.length);
    b += e;
  }
  for (const ColumnLayout& c : t.columns) PutName(&b, c.name);

  for (size_t i = 0; i < t.real.size(); ++i) {
    const RealIndexLayout& r = t.real[i];
    if (r.columns.size() > kRealIndexMaxColumns) return Status::InvalidArgument("an index has at most 10 columns");
    std::string e(kRealIndexEntrySize, '\0');
    uint8_t* p = reinterpret_cast<uint8_t*>(e.data());
    Put32(p, kRealIndexMagic);
    for (uint32_t k = 0; k < kRealIndexMaxColumns; ++k) {
      Put16(p + kRealIndexColumnsOffset + 3 * k, k < r.columns.size() ? r.columns[k] : kRealIndexNoColumn);
      if (k < r.columns.size()) p[kRealIndexColumnsOffset + 3 * k + 2] = kIndexOrderAscending;
    }
    Put32(p + kRealIndexUsedPagesOffset, MakePtr(t.map_page, uint32_t(first_index_row + i)));
    Put32(p + kRealIndexFirstPageOffset, t.roots[i]);
    p[kRealIndexFlagsOffset] = r.flags;
    b += e;
  }
  std::vector<const LogicalIndexLayout*> logical;
  for (const LogicalIndexLayout& l : t.logical) logical.push_back(&l);
  std::stable_sort(logical.begin(), logical.end(), [](auto* a, auto* b) { return NameBefore(a->name, b->name); });
  for (const LogicalIndexLayout* l : logical) {
    std::string e(kLogicalIndexEntrySize, '\0');
    uint8_t* p = reinterpret_cast<uint8_t*>(e.data());
    Put32(p, kTdefMagic);
    Put32(p + kLogicalIndexNumberOffset, l->number);
    Put32(p + kLogicalIndexRealOffset, l->real);
    p[kLogicalIndexRelTypeOffset] = l->rel_type;
    Put32(p + kLogicalIndexRelIndexOffset, uint32_t(l->rel_index));
    Put32(p + kLogicalIndexRelTableOffset, l->rel_table);
    bool fk = l->kind == kIndexKindForeign;
    p[kLogicalIndexCascadeUpdOffset] = fk ? (l->cascade_updates ? kCascadeFlag : 0) : kLogicalIndexNoCascade;
    p[kLogicalIndexCascadeDelOffset] = fk ? (l->cascade_deletes ? kCascadeFlag : 0) : kLogicalIndexNoCascade;
    p[kLogicalIndexKindOffset] = l->kind;
    b += e;
  }
  for (const LogicalIndexLayout* l : logical) PutName(&b, l->name);
  // Long-value columns' maps, in the order the columns are stored.
  for (const ColumnLayout& c : t.columns) {
    if (!IsLongValue(c.type)) continue;
    uint16_t first = 0;
    for (auto& [number, r] : lv_rows)
      if (number == c.number) first = r;
    Put16s(&b, c.number);
    Put32s(&b, MakePtr(t.map_page, first));
    Put32s(&b, MakePtr(t.map_page, first + 1u));
  }
  Put16s(&b, 0xFFFF);
  if (b.size() + 8 > kPageSize) return Status::NotSupported("table definition larger than a page");
  h = reinterpret_cast<uint8_t*>(b.data());
  Put32(h + kTdefLengthOffset, uint32_t(b.size()));
  Put16(h + kDataFreeSpaceOffset, uint16_t(kPageSize - 8 - b.size()));
  std::memset(page, 0, kPageSize);
  std::memcpy(page, b.data(), b.size());
  return Status::OK();
}

Status PutPage(Pager* pager, uint32_t page, const uint8_t* data) {
  while (pager->page_count() <= page) {
    uint32_t added;
    MDB_RETURN_IF_ERROR(pager->Append(&added));
  }
  return pager->Put(page, data);
}

Status WriteNewTable(Pager* pager, const TableLayout& t, uint16_t sort_order, uint8_t* map_image) {
  uint8_t page[kPageSize];
  MDB_RETURN_IF_ERROR(BuildTableDefinition(t, sort_order, page));
  MDB_RETURN_IF_ERROR(PutPage(pager, t.tdef, page));
  // Each index's map lists its root page; the other maps start empty.
  uint16_t count = MapRowCount(t), first_index = uint16_t(count - t.real.size());
  for (uint16_t k = 0; k < count; ++k) {
    std::string map = EmptyMapRow();
    if (k >= first_index) {
      uint32_t root = t.roots[k - first_index];
      if (root >= 64 * 8) return Status::InvalidArgument("index root beyond a new map's reach");
      map[5 + root / 8] = char(uint8_t(map[5 + root / 8]) | (1 << (root % 8)));
    }
    uint16_t row;
    MDB_RETURN_IF_ERROR(AddRow(map_image, map, 0, &row));
    if (row != t.first_map_row + k) return Status::InvalidArgument("map rows out of place");
  }
  for (uint32_t root : t.roots) {
    InitLeafPage(page, t.tdef);
    MDB_RETURN_IF_ERROR(PutPage(pager, root, page));
  }
  return Status::OK();
}

}  // namespace mdb
