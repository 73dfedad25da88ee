#include "mdb/row_write.h"

#include <cmath>
#include <cstring>

#include "mdb/jet4.h"
#include "mdb/text_codec_jet.h"
#include "mdb/value_format.h"

namespace mdb {

using namespace jet4;

bool ValueAsInt(const Value& v, int64_t* out) {
  if (auto* b = std::get_if<bool>(&v)) { *out = *b ? -1 : 0; return true; }
  if (auto* i = std::get_if<int64_t>(&v)) { *out = *i; return true; }
  if (auto* d = std::get_if<double>(&v)) {
    if (!std::isfinite(*d)) return false;
    double r = std::nearbyint(*d);
    if (r < -9.2e18 || r > 9.2e18) return false;
    *out = int64_t(r);
    return true;
  }
  if (auto* m = std::get_if<Money>(&v)) { *out = m->units / 10000; return true; }
  return false;
}

bool ValueAsDouble(const Value& v, double* out) {
  if (auto* b = std::get_if<bool>(&v)) { *out = *b ? -1 : 0; return true; }
  if (auto* i = std::get_if<int64_t>(&v)) { *out = double(*i); return true; }
  if (auto* d = std::get_if<double>(&v)) { *out = *d; return true; }
  if (auto* m = std::get_if<Money>(&v)) { *out = double(m->units) / 10000; return true; }
  if (auto* t = std::get_if<Date>(&v)) { *out = t->oa; return true; }
  return false;
}

namespace {

std::string Utf8Name(const std::u16string& s) { return Utf16ToUtf8Lossy(s); }

Status Wrong(const ColumnDef& col, const char* what) {
  return Status::InvalidArgument("column [" + Utf8Name(col.column.name) + "]: " + what);
}

template <typename T>
std::string Raw(T v) {
  std::string s(sizeof(T), '\0');
  std::memcpy(s.data(), &v, sizeof(T));  // the file and both targets are little-endian
  return s;
}

}  // namespace

Status EncodeValue(const ColumnDef& col, const Value& v, FieldBytes* out) {
  *out = FieldBytes();
  ColumnType type = col.column.type;
  if (IsNull(v)) {
    if (type == ColumnType::kBool) { out->null = false; out->bit = false; }  // yes/no is never null
    return Status::OK();
  }
  out->null = false;
  int64_t i = 0;
  double d = 0;
  switch (type) {
    case ColumnType::kBool:
      if (!ValueAsInt(v, &i)) return Wrong(col, "expects yes/no");
      out->bit = i != 0;
      return Status::OK();
    case ColumnType::kByte:
      if (!ValueAsInt(v, &i) || i < 0 || i > 255) return Wrong(col, "expects a byte (0 to 255)");
      out->bytes = Raw<uint8_t>(uint8_t(i));
      return Status::OK();
    case ColumnType::kInt:
      if (!ValueAsInt(v, &i) || i < -32768 || i > 32767) return Wrong(col, "expects an integer (-32768 to 32767)");
      out->bytes = Raw<int16_t>(int16_t(i));
      return Status::OK();
    case ColumnType::kLong:
      if (!ValueAsInt(v, &i) || i < INT32_MIN || i > INT32_MAX) return Wrong(col, "expects a long integer");
      out->bytes = Raw<int32_t>(int32_t(i));
      return Status::OK();
    case ColumnType::kMoney: {
      int64_t units;
      if (auto* m = std::get_if<Money>(&v)) units = m->units;
      else if (ValueAsDouble(v, &d) && std::fabs(d) < 9.2e14) units = int64_t(std::llround(d * 10000));
      else return Wrong(col, "expects a currency amount");
      out->bytes = Raw<int64_t>(units);
      return Status::OK();
    }
    case ColumnType::kFloat:
      if (!ValueAsDouble(v, &d)) return Wrong(col, "expects a number");
      out->bytes = Raw<float>(float(d));
      return Status::OK();
    case ColumnType::kDouble:
      if (!ValueAsDouble(v, &d)) return Wrong(col, "expects a number");
      out->bytes = Raw<double>(d);
      return Status::OK();
    case ColumnType::kDateTime:
      if (!ValueAsDouble(v, &d) || !std::isfinite(d)) return Wrong(col, "expects a date/time");
      out->bytes = Raw<double>(d);
      return Status::OK();
    case ColumnType::kGuid: {
      auto* g = std::get_if<Guid>(&v);
      if (!g) return Wrong(col, "expects a replication ID");
      out->bytes.assign(reinterpret_cast<const char*>(g->bytes), 16);
      return Status::OK();
    }
    case ColumnType::kNumeric: {
      Decimal dec;
      if (auto* p = std::get_if<Decimal>(&v)) dec = *p;
      else if (ValueAsInt(v, &i) && std::holds_alternative<int64_t>(v)) {
        dec.negative = i < 0;
        uint64_t m = i < 0 ? uint64_t(-(i + 1)) + 1 : uint64_t(i);
        dec.lo = uint32_t(m);
        dec.mid = uint32_t(m >> 32);
      } else {
        return Wrong(col, "expects a decimal");
      }
      // Sign byte, then the 128-bit magnitude as four little-endian words,
      // the most significant first.
      std::string s(17, '\0');
      uint8_t* p = reinterpret_cast<uint8_t*>(s.data());
      p[0] = dec.negative ? 0x80 : 0x00;
      Put32(p + 5, dec.hi);
      Put32(p + 9, dec.mid);
      Put32(p + 13, dec.lo);
      out->bytes = s;
      return Status::OK();
    }
    case ColumnType::kText: {
      auto* t = std::get_if<std::u16string>(&v);
      std::u16string text;
      if (t) text = *t;
      else return Wrong(col, "expects text");
      if (col.length && text.size() * 2 > col.length) return Wrong(col, "text longer than the column allows");
      if (!JetTextStorable(text)) return Wrong(col, "cannot hold a text that starts with U+FEFF and has U+xx00 in it");
      out->bytes = EncodeJetText(text, col.column.compressed_unicode);
      return Status::OK();
    }
    case ColumnType::kBinary: {
      auto* b = std::get_if<Binary>(&v);
      if (!b) return Wrong(col, "expects binary data");
      if (col.length && b->bytes.size() > col.length) return Wrong(col, "binary value longer than the column allows");
      out->bytes = b->bytes;
      return Status::OK();
    }
    case ColumnType::kMemo:
    case ColumnType::kOle:
      return Wrong(col, "long values are written through the long-value writer");
  }
  return Status::NotSupported("column [" + Utf8Name(col.column.name) + "] has a kind the engine cannot write");
}

Status BuildRow(const TableDef& def, const std::vector<FieldBytes>& fields, std::string* row) {
  if (fields.size() != def.columns.size()) return Status::InvalidArgument("one value per column expected");
  uint32_t col_count = def.max_cols;
  size_t fixed_size = 0;
  int var_slots = 0;
  for (const ColumnDef& c : def.columns) {
    col_count = std::max<uint32_t>(col_count, c.number + 1u);
    if (c.column.fixed) fixed_size = std::max<size_t>(fixed_size, size_t(c.fixed_offset) + c.length);
    else var_slots = std::max(var_slots, int(c.var_index) + 1);
  }
  std::string out(2 + fixed_size, '\0');
  uint8_t* p = reinterpret_cast<uint8_t*>(out.data());
  Put16(p, uint16_t(col_count));
  std::vector<uint8_t> mask((col_count + 7) / 8, 0);
  std::vector<uint16_t> var_start(var_slots, 0), var_end(var_slots, 0);
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const ColumnDef& c = def.columns[i];
    const FieldBytes& f = fields[i];
    if (c.column.type == ColumnType::kBool) {
      if (f.bit) mask[c.number / 8] |= uint8_t(1 << (c.number % 8));
      continue;
    }
    if (f.null) continue;
    mask[c.number / 8] |= uint8_t(1 << (c.number % 8));
    if (c.column.fixed) {
      if (f.bytes.size() > c.length) return Status::InvalidArgument("fixed value larger than its column");
      std::memcpy(out.data() + 2 + c.fixed_offset, f.bytes.data(), f.bytes.size());
    }
  }
  // Variable values in slot order, so offsets rise with the slot number.
  std::vector<int> by_slot(var_slots, -1);
  for (size_t i = 0; i < def.columns.size(); ++i)
    if (!def.columns[i].column.fixed) by_slot[def.columns[i].var_index] = int(i);
  for (int s = 0; s < var_slots; ++s) {
    var_start[s] = uint16_t(out.size());
    int i = by_slot[s];
    if (i >= 0 && !fields[i].null) out += fields[i].bytes;
    var_end[s] = uint16_t(out.size());
  }
  if (var_slots > 0) {
    if (out.size() + 4 + 2 * var_slots + mask.size() > kPageSize - 16)
      return Status::InvalidArgument("row too large for a page");
    std::string tail(2 + 2 * var_slots + 2, '\0');
    uint8_t* t = reinterpret_cast<uint8_t*>(tail.data());
    Put16(t, uint16_t(out.size()));  // end of the variable data
    for (int s = var_slots - 1, k = 0; s >= 0; --s, ++k) Put16(t + 2 + 2 * k, var_start[s]);
    Put16(t + 2 + 2 * var_slots, uint16_t(var_slots));
    out += tail;
  }
  out.append(reinterpret_cast<const char*>(mask.data()), mask.size());
  if (out.size() > kPageSize - 16) return Status::InvalidArgument("row too large for a page");
  *row = std::move(out);
  return Status::OK();
}

}  // namespace mdb
