#include "data/fields.h"

#include <cmath>

namespace data {

bool AsText(const rt::Value& v, rt::Text* out) {
  if (v.kind() == rt::Kind::Empty) {
    out->clear();
    return true;
  }
  if (v.kind() != rt::Kind::Text) return false;
  *out = v.text();
  return true;
}

bool AsYesNo(const rt::Value& v, bool* out) {
  switch (v.kind()) {
    case rt::Kind::Bool:
      *out = v.boolean();
      return true;
    case rt::Kind::Integer:
      *out = v.integer() != 0;
      return true;
    default:
      return false;
  }
}

bool AsRowValue(const rt::Value& v, int32_t* out) {
  int64_t whole = 0;
  if (v.kind() == rt::Kind::Integer) {
    whole = v.integer();
  } else if (v.kind() == rt::Kind::Float) {
    double d = std::trunc(v.floating());
    // Outside this range the cut is not a 64-bit number at all.
    if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return false;
    whole = static_cast<int64_t>(d);
  } else {
    return false;
  }
  *out = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(whole)));
  return true;
}

}  // namespace data
