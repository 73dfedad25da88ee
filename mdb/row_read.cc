#include "mdb/row_read.h"

#include <cstring>

#include "mdb/jet4.h"
#include "mdb/lval_read.h"
#include "mdb/text_codec_jet.h"

namespace mdb {

namespace {

// A moved row is never moved again by Access; allow a few hops, no more.
constexpr int kMaxRowHops = 4;

// The text or byte block held by *out, made one if it holds something else:
// a reader of many rows keeps its buffers.
std::u16string* ReuseText(Value* out) {
  if (out->index() != 6) out->emplace<std::u16string>();
  return &std::get<std::u16string>(*out);
}
std::string* ReuseBytes(Value* out) {
  if (out->index() != 7) out->emplace<Binary>();
  return &std::get<Binary>(*out).bytes;
}

}  // namespace

Status CopyPage(Pager* pager, uint32_t page, uint8_t* buf) {
  if (page >= pager->page_count()) return Status::Corruption("page number past the end of the file");
  const uint8_t* data;
  MDB_RETURN_IF_ERROR(pager->Get(page, &data));
  std::memcpy(buf, data, jet4::kPageSize);
  return Status::OK();
}

uint16_t DataPageRowCount(const uint8_t* page) {
  if (page[0] != jet4::kPageData) return 0;
  uint16_t n = jet4::Get16(page + jet4::kDataRowCountOffset);
  // The offset table must fit on the page.
  uint16_t max = (jet4::kPageSize - jet4::kDataRowTableOffset) / 2;
  return n > max ? max : n;
}

Status LocateRow(const uint8_t* page, uint16_t row, RowSlot* out) {
  if (page[0] != jet4::kPageData) return Status::Corruption("row pointer to a page that holds no rows");
  uint16_t count = DataPageRowCount(page);
  if (row >= count) return Status::Corruption("row pointer past the rows of its page");
  uint16_t raw = jet4::Get16(page + jet4::kDataRowTableOffset + 2 * row);
  uint32_t end = jet4::kPageSize;
  if (row > 0) end = jet4::Get16(page + jet4::kDataRowTableOffset + 2 * (row - 1)) & jet4::kRowOffsetMask;
  uint32_t start = raw & jet4::kRowOffsetMask;
  out->deleted = (raw & jet4::kRowDeleted) != 0;
  out->overflow = (raw & jet4::kRowOverflow) != 0;
  uint32_t table_end = jet4::kDataRowTableOffset + 2u * count;
  if (start < table_end || start > end || end > jet4::kPageSize) {
    // Deleted rows may have been squeezed out; their bounds do not matter.
    if (out->deleted) {
      out->start = out->end = 0;
      return Status::OK();
    }
    return Status::Corruption("row bounds outside its page");
  }
  out->start = uint16_t(start);
  out->end = uint16_t(end);
  return Status::OK();
}

Status FetchRow(Pager* pager, RowId id, uint32_t tdef_page, std::string* row, bool* found) {
  uint8_t page[jet4::kPageSize];
  *found = false;
  for (int hop = 0; hop <= kMaxRowHops; ++hop) {
    MDB_RETURN_IF_ERROR(CopyPage(pager, id.page, page));
    if (page[0] != jet4::kPageData) return Status::Corruption("row pointer to a page that holds no rows");
    if (tdef_page != 0 && jet4::Get32(page + jet4::kDataTdefOffset) != tdef_page)
      return Status::Corruption("row pointer to a page of another table");
    RowSlot slot;
    MDB_RETURN_IF_ERROR(LocateRow(page, id.row, &slot));
    // The first hop decides whether the row exists; a moved row's new home
    // carries flags of its own that do not hide it.
    if (hop == 0 && slot.deleted) return Status::OK();
    if (hop == 0 && slot.overflow) {
      if (slot.end - slot.start < 4) return Status::Corruption("moved-row pointer too short");
      uint32_t ptr = jet4::Get32(page + slot.start);
      id.page = jet4::PtrPage(ptr);
      id.row = uint16_t(jet4::PtrRow(ptr));
      continue;
    }
    row->assign(reinterpret_cast<const char*>(page) + slot.start, slot.end - slot.start);
    *found = true;
    return Status::OK();
  }
  return Status::Corruption("moved-row pointers loop");
}

Status ParseRow(const TableDef& def, const uint8_t* row, size_t n, RowLayout* out) {
  if (n < 2) return Status::Corruption("row too short");
  uint32_t row_cols = jet4::Get16(row);
  uint32_t mask_size = (row_cols + 7) / 8;
  if (2 + mask_size > n) return Status::Corruption("row too short for its null mask");
  out->row = row;
  out->row_cols = row_cols;
  out->mask = row + n - mask_size;
  out->var_count = 0;
  out->data_end = uint32_t(n) - mask_size;  // where column data must stop
  // Variable offsets are stored last column first, just before the count.
  out->var_table = row + n - mask_size - 2;
  bool has_var = def.var_col_count > 0;
  if (has_var) {
    if (2 + mask_size + 2 > n) return Status::Corruption("row too short for its variable columns");
    out->var_count = jet4::Get16(row + n - mask_size - 2);
    uint32_t trailer = mask_size + 2 + 2 * (out->var_count + 1);
    if (trailer + 2 > n) return Status::Corruption("row's variable offset table exceeds the row");
    out->data_end = uint32_t(n) - trailer;
  }
  uint32_t fixed_end = has_var && out->var_count > 0 ? jet4::Get16(out->var_table - 2) : out->data_end;
  if (fixed_end > out->data_end || fixed_end < 2) fixed_end = out->data_end;
  out->fixed_end = fixed_end;
  return Status::OK();
}

Status FieldOutsideRow(const ColumnDef& c) {
  return Status::Corruption(c.column.fixed ? "fixed column outside its row" : "variable column outside its row");
}

Status CrackRow(const TableDef& def, const uint8_t* row, size_t n, std::vector<FieldRef>* out) {
  out->assign(def.columns.size(), FieldRef());
  RowLayout layout;
  MDB_RETURN_IF_ERROR(ParseRow(def, row, n, &layout));
  for (size_t i = 0; i < def.columns.size(); ++i)
    MDB_RETURN_IF_ERROR(LocateField(layout, def.columns[i], &(*out)[i]));
  return Status::OK();
}

Status FieldLength(const ColumnDef& col, const uint8_t* row, const FieldRef& f, int64_t* bytes) {
  ColumnType type = ColumnType(col.type);
  if (type != ColumnType::kBinary && type != ColumnType::kOle) return Status::InvalidArgument("not a byte-block column");
  if (f.null) {
    *bytes = -1;
    return Status::OK();
  }
  if (type == ColumnType::kBinary) {
    *bytes = f.size;
    return Status::OK();
  }
  if (f.size < jet4::kLvalFieldSize) return Status::Corruption("long value field too short");
  uint32_t head = jet4::Get32(row + f.offset);
  uint32_t length = head & jet4::kLvalLengthMask;
  if ((head & jet4::kLvalInline) && jet4::kLvalFieldSize + uint64_t(length) > f.size)
    return Status::Corruption("inline long value exceeds its row");
  *bytes = length;
  return Status::OK();
}

Value DecodeFixed(ColumnType type, const uint8_t* p, size_t n) {
  switch (type) {
    case ColumnType::kByte: return n >= 1 ? Value(int64_t(p[0])) : Value();
    case ColumnType::kInt: return n >= 2 ? Value(int64_t(int16_t(jet4::Get16(p)))) : Value();
    case ColumnType::kLong: return n >= 4 ? Value(int64_t(int32_t(jet4::Get32(p)))) : Value();
    case ColumnType::kMoney: return n >= 8 ? Value(Money{int64_t(jet4::Get64(p))}) : Value();
    case ColumnType::kFloat: {
      if (n < 4) return Value();
      uint32_t bits = jet4::Get32(p);
      float f;
      std::memcpy(&f, &bits, 4);
      return Value(double(f));
    }
    case ColumnType::kDouble:
    case ColumnType::kDateTime: {
      if (n < 8) return Value();
      uint64_t bits = jet4::Get64(p);
      double d;
      std::memcpy(&d, &bits, 8);
      if (type == ColumnType::kDateTime) return Value(Date{d});
      return Value(d);
    }
    case ColumnType::kGuid: {
      if (n < 16) return Value();
      Guid g;
      std::memcpy(g.bytes, p, 16);
      return Value(g);
    }
    case ColumnType::kNumeric: {
      // Sign byte, then four 32-bit words, most significant first.
      if (n < 17) return Value();
      Decimal d;
      d.negative = (p[0] & 0x80) != 0;
      d.hi = jet4::Get32(p + 5);
      d.mid = jet4::Get32(p + 9);
      d.lo = jet4::Get32(p + 13);
      return Value(d);
    }
    default:
      return Value();
  }
}

Status DecodeField(Pager* pager, const ColumnDef& col, const uint8_t* row, const FieldRef& f, Value* out) {
  if (f.null) {
    *out = Value();
    return Status::OK();
  }
  const uint8_t* p = row + f.offset;
  switch (ColumnType(col.type)) {
    case ColumnType::kBool:
      *out = Value(f.bit);
      return Status::OK();
    // The common fixed kinds straight into *out, which keeps its alternative
    // from row to row: no temporary Value to move per field.
    case ColumnType::kLong:
      if (f.size < 4) return Status::Corruption("column value shorter than its type");
      *out = int64_t(int32_t(jet4::Get32(p)));
      return Status::OK();
    case ColumnType::kDateTime:
    case ColumnType::kDouble: {
      if (f.size < 8) return Status::Corruption("column value shorter than its type");
      uint64_t bits = jet4::Get64(p);
      double d;
      std::memcpy(&d, &bits, 8);
      if (ColumnType(col.type) == ColumnType::kDateTime) *out = Date{d};
      else *out = d;
      return Status::OK();
    }
    case ColumnType::kByte: case ColumnType::kInt: case ColumnType::kMoney:
    case ColumnType::kFloat: case ColumnType::kGuid:
    case ColumnType::kNumeric: {
      Value v = DecodeFixed(ColumnType(col.type), p, f.size);
      if (IsNull(v)) return Status::Corruption("column value shorter than its type");
      if (ColumnType(col.type) == ColumnType::kNumeric) {
        if (jet4::Get32(p + 1) != 0) return Status::Corruption("decimal value exceeds 96 bits");
        std::get<Decimal>(v).scale = col.column.scale;
      }
      *out = std::move(v);
      return Status::OK();
    }
    case ColumnType::kText:
      DecodeJetText(p, f.size, ReuseText(out));
      return Status::OK();
    case ColumnType::kMemo: {
      // Inline memos (most short texts) are decoded in place.
      uint32_t head = f.size >= jet4::kLvalFieldSize ? jet4::Get32(p) : 0;
      if ((head & jet4::kLvalInline) && jet4::kLvalFieldSize + uint64_t(head & jet4::kLvalLengthMask) <= f.size) {
        DecodeJetText(p + jet4::kLvalFieldSize, head & jet4::kLvalLengthMask, ReuseText(out));
        return Status::OK();
      }
      std::string bytes;
      MDB_RETURN_IF_ERROR(ReadLongValue(pager, p, f.size, &bytes));
      DecodeJetText(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), ReuseText(out));
      return Status::OK();
    }
    case ColumnType::kOle:
      return ReadLongValue(pager, p, f.size, ReuseBytes(out));
    case ColumnType::kBinary:
    default:
      ReuseBytes(out)->assign(reinterpret_cast<const char*>(p), f.size);
      return Status::OK();
  }
}

}  // namespace mdb
