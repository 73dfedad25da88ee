// Property blocks (MSysObjects.LvProp): the properties of an object and of
// its columns, as Access stores them: "MR2\0", a chunk naming every property
// once, then one chunk for the object itself and one per column.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mdb {

struct Property {
  std::u16string name;
  uint8_t type = 0;  // a column type code: 1 yes/no, 2 byte, 3 integer, 9 binary (GUID), 10 text
  bool ddl = true;   // set by the table's design, not by a user interface
  std::string value;

  static Property Bool(const std::u16string& name, bool v, bool ddl = true);
  static Property Byte(const std::u16string& name, uint8_t v, bool ddl = true);
  static Property Int(const std::u16string& name, int16_t v, bool ddl = true);
  static Property Text(const std::u16string& name, const std::u16string& v, bool ddl = true);
  static Property Guid(const uint8_t bytes[16]);
};

struct PropertySet {
  std::u16string column;  // empty: the object itself
  std::vector<Property> properties;
};

// The block for an object's sets, the object's own first.
std::string EncodePropertyBlock(const std::vector<PropertySet>& sets);

}  // namespace mdb
