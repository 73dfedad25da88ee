#include "mdb/value_format.h"

#include <cstdio>

#include "mdb/oadate.h"

namespace mdb {

std::string Utf16ToUtf8Lossy(const std::u16string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;  // an unpaired surrogate
    }
    if (c < 0x80) {
      out.push_back(char(c));
    } else if (c < 0x800) {
      out.push_back(char(0xC0 | (c >> 6)));
      out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(char(0xE0 | (c >> 12)));
      out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(char(0x80 | (c & 0x3F)));
    } else {
      out.push_back(char(0xF0 | (c >> 18)));
      out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(char(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::string FormatDecimal(const Decimal& d) {
  // Repeated division of the 96-bit magnitude by ten.
  uint32_t w[3] = {d.hi, d.mid, d.lo};
  std::string digits;
  while (w[0] || w[1] || w[2]) {
    uint64_t rem = 0;
    for (uint32_t& x : w) {
      uint64_t cur = (rem << 32) | x;
      x = uint32_t(cur / 10);
      rem = cur % 10;
    }
    digits.insert(digits.begin(), char('0' + rem));
  }
  while (digits.size() <= d.scale) digits.insert(digits.begin(), '0');
  if (d.scale > 0) digits.insert(digits.end() - d.scale, '.');
  bool zero = digits.find_first_not_of("0.") == std::string::npos;
  if (d.negative && !zero) digits.insert(digits.begin(), '-');
  return digits;
}

std::string FormatValueCsv(const Value& v) {
  char buf[64];
  switch (v.index()) {
    case 0:
      return "";
    case 1:
      return std::get<bool>(v) ? "1" : "0";
    case 2:
      return std::to_string(std::get<int64_t>(v));
    case 3:
      std::snprintf(buf, sizeof buf, "%.15g", std::get<double>(v));
      return buf;
    case 4: {
      int64_t u = std::get<Money>(v).units;
      uint64_t a = u < 0 ? uint64_t(0) - uint64_t(u) : uint64_t(u);
      std::snprintf(buf, sizeof buf, "%s%llu.%04llu", u < 0 ? "-" : "", (unsigned long long)(a / 10000),
                    (unsigned long long)(a % 10000));
      return buf;
    }
    case 5: {
      CivilTime t;
      if (!OaToCivil(std::get<Date>(v).oa, &t)) {
        std::snprintf(buf, sizeof buf, "%.10g", std::get<Date>(v).oa);
        return buf;
      }
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                    t.second);
      return buf;
    }
    case 6: {
      std::string s = Utf16ToUtf8Lossy(std::get<std::u16string>(v));
      std::string out = "\"";
      for (char c : s) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
      }
      out.push_back('"');
      return out;
    }
    case 7: {
      static const char kHex[] = "0123456789ABCDEF";
      const std::string& b = std::get<Binary>(v).bytes;
      std::string out;
      out.reserve(b.size() * 2);
      for (unsigned char c : b) {
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
      }
      return out;
    }
    case 8: {
      // Registry form: the first three groups are little-endian.
      const uint8_t* g = std::get<Guid>(v).bytes;
      std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g[3],
                    g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
      return buf;
    }
    case 9:
      return FormatDecimal(std::get<Decimal>(v));
  }
  return "";
}

}  // namespace mdb
