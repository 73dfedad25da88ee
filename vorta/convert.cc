#include "vorta/convert.h"

#include <charconv>
#include <climits>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "mdb/oadate.h"
#include "vorta/text_codec.h"

#include <sys/stat.h>
#include <sys/types.h>

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

rt::Text ToText(rt::Value v) {
  switch (v.kind()) {
    case rt::Kind::Empty:
    case rt::Kind::Error: return "";
    case rt::Kind::Text: return v.TakeText();
    case rt::Kind::Integer: return std::to_string(v.integer());
    case rt::Kind::Float: return PlainDecimal(v.floating());
    case rt::Kind::Bool: return v.boolean() ? "真" : "假";
    case rt::Kind::DateTime: return mdb::FormatOaDate(v.date().oa);
    case rt::Kind::Bytes: return v.TakeBytes();
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
    case rt::Kind::Error:
    case rt::Kind::Bool: return rt::DateTime{};
  }
  return rt::DateTime{};
}

rt::Bytes ToBinary(rt::Value v) {
  rt::Bytes out;
  switch (v.kind()) {
    case rt::Kind::Empty:
    case rt::Kind::Error: break;
    case rt::Kind::Text: out = v.TakeText(); break;
    case rt::Kind::Bytes: out = v.TakeBytes(); break;
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

namespace {

FILE* OpenForReading(const rt::Text& name) {
#ifdef _WIN32
  std::u16string wide = text::Gb18030ToUtf16(name);
  return _wfopen(reinterpret_cast<const wchar_t*>(wide.c_str()), L"rb");
#else
  return std::fopen(text::Gb18030ToUtf8(name).c_str(), "rb");
#endif
}

// -1 for anything but a regular file.
int64_t SizeOf(FILE* f) {
#ifdef _WIN32
  struct _stat64 st;
  if (_fstat64(_fileno(f), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return -1;
#else
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
#endif
  return static_cast<int64_t>(st.st_size);
}

}  // namespace

rt::Bytes ReadFile(const rt::Text& name) {
  rt::Bytes out;
  if (name.empty()) return out;
  FILE* f = nullptr;
  try {
    f = OpenForReading(name);
    if (f == nullptr) return out;
    int64_t size = SizeOf(f);
    if (size < 0 || static_cast<uint64_t>(size) >= SIZE_MAX / 2) {
      std::fclose(f);
      return out;
    }
    // Read into a block of the file's size; one that grows meanwhile goes on.
    out.resize(static_cast<size_t>(size));
    size_t have = std::fread(out.data(), 1, out.size(), f);
    bool grew = have == out.size();
    out.resize(have);
    if (grew) {
      char buf[64 * 1024];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    }
    if (std::ferror(f)) rt::Bytes().swap(out);
  } catch (const std::bad_alloc&) {
    rt::Bytes().swap(out);  // too large to hold: treated like an unreadable file
  }
  if (f != nullptr) std::fclose(f);
  return out;
}

int64_t FileSize(const rt::Text& name) {
  if (name.empty()) return -1;
  FILE* f = nullptr;
  try {
    f = OpenForReading(name);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  if (f == nullptr) return -1;
  int64_t size = SizeOf(f);
  std::fclose(f);
  return size;
}

}  // namespace vorta
