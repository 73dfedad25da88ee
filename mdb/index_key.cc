#include "mdb/index_key.h"

#include <cmath>
#include <cstring>

#include "mdb/row_write.h"

namespace mdb {

namespace {

void PutBE(std::string* s, uint64_t v, int n) {
  for (int i = n - 1; i >= 0; --i) s->push_back(char(uint8_t(v >> (8 * i))));
}

const ColumnDef* ByNumber(const TableDef& def, uint16_t number, int* pos) {
  for (size_t i = 0; i < def.columns.size(); ++i)
    if (def.columns[i].number == number) {
      *pos = int(i);
      return &def.columns[i];
    }
  return nullptr;
}

// Letters and digits as real files show them in text keys; case is folded.
int TextCode(char16_t c) {
  static const uint8_t kLetters[26] = {0x4A, 0x4C, 0x4D, 0x4F, 0x51, 0x53, 0x55, 0x57, 0x59, 0, 0, 0x5E, 0x60,
                                       0x62, 0x64, 0x66, 0x68, 0x69, 0x6B, 0x6D, 0x6F, 0x71, 0, 0x75, 0x76, 0};
  if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  if (c >= u'a' && c <= u'z') return kLetters[c - u'a'] ? kLetters[c - u'a'] : -1;
  if (c >= u'0' && c <= u'9') return 0x36 + 2 * (c - u'0');
  return -1;
}

Status KindEncodable(const ColumnDef& c) {
  switch (c.column.type) {
    case ColumnType::kBool:
    case ColumnType::kByte:
    case ColumnType::kInt:
    case ColumnType::kLong:
    case ColumnType::kMoney:
    case ColumnType::kFloat:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
    case ColumnType::kText:
      return Status::OK();
    default:
      return Status::NotSupported("index keys on this column kind are not supported");
  }
}

void FloatKey(std::string* s, uint64_t bits, int n) {
  // Negative numbers: every bit inverted; others: the sign bit set.
  uint64_t sign = uint64_t(1) << (8 * n - 1);
  if (bits & sign) bits = ~bits;
  else bits |= sign;
  PutBE(s, bits, n);
}

thread_local int catalog_keys = 0;

}  // namespace

CatalogKeyScope::CatalogKeyScope() { ++catalog_keys; }
CatalogKeyScope::~CatalogKeyScope() { --catalog_keys; }

Status EncodeTextKey(const std::u16string& text, std::string* out) {
  for (char16_t c : text) {
    int code = TextCode(c);
    if (code < 0 && catalog_keys > 0) {
      // Provisional (catalog rows of a new file only): after every known
      // letter, in code point order.
      out->push_back(char(0xF0));
      out->push_back(char(uint8_t(c >> 8)));
      out->push_back(char(uint8_t(c)));
      continue;
    }
    if (code < 0) return Status::NotSupported("text index keys with this character are not supported yet");
    out->push_back(char(code));
  }
  out->push_back(0x01);
  out->push_back(0x00);
  return Status::OK();
}

Status IndexEncodable(const TableDef& def, const RealIndexDef& index) {
  for (const auto& ic : index.columns) {
    int pos;
    const ColumnDef* c = ByNumber(def, ic.column_number, &pos);
    if (!c) return Status::Corruption("index names a column the table does not have");
    Status s = KindEncodable(*c);
    if (!s.ok()) return s;
  }
  return Status::OK();
}

bool KeyHasNull(const TableDef& def, const RealIndexDef& index, const std::vector<Value>& values) {
  for (const auto& ic : index.columns) {
    int pos;
    const ColumnDef* c = ByNumber(def, ic.column_number, &pos);
    if (c && c->column.type != ColumnType::kBool && IsNull(values[pos])) return true;
  }
  return false;
}

Status EncodeIndexKey(const TableDef& def, const RealIndexDef& index, const std::vector<Value>& values,
                      std::string* key) {
  key->clear();
  for (const auto& ic : index.columns) {
    int pos;
    const ColumnDef* c = ByNumber(def, ic.column_number, &pos);
    if (!c) return Status::Corruption("index names a column the table does not have");
    MDB_RETURN_IF_ERROR(KindEncodable(*c));
    const Value& v = values[pos];
    std::string part;
    if (c->column.type == ColumnType::kBool) {
      int64_t b = 0;
      ValueAsInt(v, &b);
      // The flag byte alone carries a yes/no value: yes sorts first.
      part.push_back(char(b ? 0x00 : 0xFF));
      if (!ic.ascending) part[0] = char(~uint8_t(part[0]));
      *key += part;
      continue;
    }
    if (IsNull(v)) {
      key->push_back(char(ic.ascending ? 0x00 : 0xFF));
      continue;
    }
    part.push_back(char(0x7F));
    int64_t i = 0;
    double d = 0;
    switch (c->column.type) {
      case ColumnType::kByte:
        if (!ValueAsInt(v, &i)) return Status::InvalidArgument("key value of the wrong kind");
        PutBE(&part, uint8_t(i), 1);
        break;
      case ColumnType::kInt:
        if (!ValueAsInt(v, &i)) return Status::InvalidArgument("key value of the wrong kind");
        PutBE(&part, uint16_t(int16_t(i)) ^ 0x8000u, 2);
        break;
      case ColumnType::kLong:
        if (!ValueAsInt(v, &i)) return Status::InvalidArgument("key value of the wrong kind");
        PutBE(&part, uint32_t(int32_t(i)) ^ 0x80000000u, 4);
        break;
      case ColumnType::kMoney: {
        int64_t units;
        if (auto* m = std::get_if<Money>(&v)) units = m->units;
        else if (ValueAsDouble(v, &d)) units = int64_t(std::llround(d * 10000));
        else return Status::InvalidArgument("key value of the wrong kind");
        PutBE(&part, uint64_t(units) ^ (uint64_t(1) << 63), 8);
        break;
      }
      case ColumnType::kFloat: {
        if (!ValueAsDouble(v, &d)) return Status::InvalidArgument("key value of the wrong kind");
        float f = float(d);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        FloatKey(&part, bits, 4);
        break;
      }
      case ColumnType::kDouble:
      case ColumnType::kDateTime: {
        if (!ValueAsDouble(v, &d)) return Status::InvalidArgument("key value of the wrong kind");
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        FloatKey(&part, bits, 8);
        break;
      }
      case ColumnType::kText: {
        auto* t = std::get_if<std::u16string>(&v);
        if (!t) return Status::InvalidArgument("key value of the wrong kind");
        MDB_RETURN_IF_ERROR(EncodeTextKey(*t, &part));
        break;
      }
      default:
        return Status::NotSupported("index keys on this column kind are not supported");
    }
    if (!ic.ascending)
      for (char& ch : part) ch = char(~uint8_t(ch));
    *key += part;
  }
  return Status::OK();
}

}  // namespace mdb
