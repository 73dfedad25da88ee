#include "vorta/convert.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "mdb/oadate.h"
#include "vorta/text_codec.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace vorta {

namespace {

// Shortest round-trip digits, with any exponent written out as zeros.
std::string PlainDecimal(double d) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d < 0 ? "-Infinity" : "Infinity";
  if (d == 0) return "0";
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  std::string sci(buf, res.ptr);
  bool negative = sci[0] == '-';
  if (negative) sci.erase(0, 1);
  size_t e = sci.find('e');
  int exp = std::atoi(sci.c_str() + e + 1);
  std::string digits;
  for (size_t i = 0; i < e; ++i)
    if (sci[i] != '.') digits.push_back(sci[i]);
  // digits = d1 d2 d3 ..., value = 0.d1d2d3 * 10^(exp+1)
  int point = exp + 1;
  std::string out;
  if (point <= 0) {
    out = "0." + std::string(-point, '0') + digits;
  } else if (point >= static_cast<int>(digits.size())) {
    out = digits + std::string(point - digits.size(), '0');
  } else {
    out = digits.substr(0, point) + "." + digits.substr(point);
  }
  return negative ? "-" + out : out;
}

void AppendLittleEndian(rt::Bytes* out, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) out->push_back(static_cast<char>(v >> (8 * i)));
}

}  // namespace

rt::Text ToText(const rt::Value& v) {
  switch (v.kind()) {
    case rt::Kind::Empty: return "";
    case rt::Kind::Text: return v.text();
    case rt::Kind::Integer: return std::to_string(v.integer());
    case rt::Kind::Float: return PlainDecimal(v.floating());
    case rt::Kind::Bool: return v.boolean() ? "真" : "假";
    case rt::Kind::DateTime: return mdb::FormatOaDate(v.date().oa);
    case rt::Kind::Bytes: return v.bytes();
  }
  return "";
}

rt::DateTime ToDateTime(const rt::Value& v) {
  double oa = 0;
  switch (v.kind()) {
    case rt::Kind::DateTime: return v.date();
    case rt::Kind::Integer: return rt::DateTime{static_cast<double>(v.integer())};
    case rt::Kind::Float: return std::isfinite(v.floating()) ? rt::DateTime{v.floating()} : rt::DateTime{};
    case rt::Kind::Text:
      if (mdb::ParseOaDate(v.text(), false, &oa)) return rt::DateTime{oa};
      return rt::DateTime{};
    case rt::Kind::Bytes:
      if (mdb::ParseOaDate(v.bytes(), false, &oa)) return rt::DateTime{oa};
      return rt::DateTime{};
    case rt::Kind::Empty:
    case rt::Kind::Bool: return rt::DateTime{};
  }
  return rt::DateTime{};
}

rt::Bytes ToBinary(const rt::Value& v) {
  rt::Bytes out;
  switch (v.kind()) {
    case rt::Kind::Empty: break;
    case rt::Kind::Text: out = v.text(); break;
    case rt::Kind::Bytes: out = v.bytes(); break;
    case rt::Kind::Integer: {
      int64_t i = v.integer();
      AppendLittleEndian(&out, static_cast<uint64_t>(i), (i >= INT32_MIN && i <= INT32_MAX) ? 4 : 8);
      break;
    }
    case rt::Kind::Bool: AppendLittleEndian(&out, v.boolean() ? 1 : 0, 4); break;
    case rt::Kind::Float:
    case rt::Kind::DateTime: {
      double d = v.kind() == rt::Kind::Float ? v.floating() : v.date().oa;
      uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      AppendLittleEndian(&out, bits, 8);
      break;
    }
  }
  return out;
}

int DatePart(rt::DateTime d, char part) {
  mdb::CivilTime t;
  if (!mdb::OaToCivil(d.oa, &t)) return 0;
  switch (part) {
    case 'y': return t.year;
    case 'm': return t.month;
    case 'd': return t.day;
    case 'h': return t.hour;
    case 'n': return t.minute;
    case 's': return t.second;
  }
  return 0;
}

rt::Bytes ReadFile(const rt::Text& name) {
  rt::Bytes out;
  if (name.empty()) return out;
#ifdef _WIN32
  std::u16string wide = text::Gb18030ToUtf16(name);
  FILE* f = _wfopen(reinterpret_cast<const wchar_t*>(wide.c_str()), L"rb");
#else
  FILE* f = std::fopen(text::Gb18030ToUtf8(name).c_str(), "rb");
#endif
  if (f == nullptr) return out;
  try {
    char buf[64 * 1024];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    if (std::ferror(f)) out.clear();
  } catch (const std::bad_alloc&) {
    out.clear();  // too large to hold: treated like an unreadable file
    out.shrink_to_fit();
  }
  std::fclose(f);
  return out;
}

}  // namespace vorta
