#include "mdb/property_block.h"

namespace mdb {

namespace {

constexpr uint16_t kNamesChunk = 0x80;
constexpr uint16_t kObjectChunk = 0x00;
constexpr uint16_t kColumnChunk = 0x01;

void Put16(std::string* s, uint16_t v) {
  s->push_back(char(v));
  s->push_back(char(v >> 8));
}
void Put32(std::string* s, uint32_t v) {
  Put16(s, uint16_t(v));
  Put16(s, uint16_t(v >> 16));
}
void PutUtf16(std::string* s, const std::u16string& t) {
  for (char16_t c : t) Put16(s, c);
}
// A chunk: its length (these six bytes included), its kind, its bytes.
void PutChunk(std::string* out, uint16_t kind, const std::string& body) {
  Put32(out, uint32_t(6 + body.size()));
  Put16(out, kind);
  *out += body;
}

}  // namespace

Property Property::Bool(const std::u16string& name, bool v, bool ddl) { return {name, 1, ddl, std::string(1, char(v ? 1 : 0))}; }
Property Property::Byte(const std::u16string& name, uint8_t v, bool ddl) { return {name, 2, ddl, std::string(1, char(v))}; }
Property Property::Int(const std::u16string& name, int16_t v, bool ddl) {
  std::string s;
  Put16(&s, uint16_t(v));
  return {name, 3, ddl, s};
}
Property Property::Text(const std::u16string& name, const std::u16string& v, bool ddl) {
  std::string s;
  PutUtf16(&s, v);
  return {name, 10, ddl, s};
}
Property Property::Guid(const uint8_t bytes[16]) {
  return {u"GUID", 9, true, std::string(reinterpret_cast<const char*>(bytes), 16)};
}

std::string EncodePropertyBlock(const std::vector<PropertySet>& sets) {
  std::vector<std::u16string> names;
  auto name_index = [&](const std::u16string& n) {
    for (size_t i = 0; i < names.size(); ++i)
      if (names[i] == n) return uint16_t(i);
    names.push_back(n);
    return uint16_t(names.size() - 1);
  };
  std::string chunks;
  for (size_t k = 0; k < sets.size(); ++k) {
    const PropertySet& set = sets[k];
    std::string body;
    Put32(&body, uint32_t(6 + set.column.size() * 2));
    Put16(&body, uint16_t(set.column.size() * 2));
    PutUtf16(&body, set.column);
    for (const Property& p : set.properties) {
      Put16(&body, uint16_t(8 + p.value.size()));
      body.push_back(char(p.ddl ? 1 : 0));
      body.push_back(char(p.type));
      Put16(&body, name_index(p.name));
      Put16(&body, uint16_t(p.value.size()));
      body += p.value;
    }
    PutChunk(&chunks, set.column.empty() && k == 0 ? kObjectChunk : kColumnChunk, body);
  }
  std::string pool;
  for (const std::u16string& n : names) {
    Put16(&pool, uint16_t(n.size() * 2));
    PutUtf16(&pool, n);
  }
  std::string out("MR2\0", 4);
  PutChunk(&out, kNamesChunk, pool);
  return out + chunks;
}

}  // namespace mdb
