#include "mdb/value_format.h"

#include <cstdio>
#include <cstring>

#include "mdb/oadate.h"

namespace mdb {

std::string Utf16ToUtf8Lossy(const std::u16string& s) {
  std::string out;
  AppendUtf8(s, &out);
  return out;
}

namespace {

// UTF-8 of s at o; with kQuote, each '"' doubled. Exports spend much of
// their time here: the common cases (ASCII, the three-byte characters of
// Chinese text) are tested first and written with the fewest steps.
template <bool kQuote>
char* Utf8Of(std::u16string_view s, char* o) {
  const char16_t* p = s.data();
  const char16_t* end = p + s.size();
  while (p < end) {
    uint32_t c = *p++;
    if (c < 0x80) {
      *o++ = char(c);
      if (kQuote && c == '"') *o++ = '"';
      continue;
    }
    if (c >= 0x800 && c - 0xD800 >= 0x800) {
      // The three bytes in one store, which is why the room has a byte to
      // spare.
      uint32_t w = (0xE0 | (c >> 12)) | ((0x80 | ((c >> 6) & 0x3F)) << 8) | ((0x80 | (c & 0x3F)) << 16);
      uint8_t b[4] = {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), 0};
      std::memcpy(o, b, 4);
      o += 3;
      continue;
    }
    if (c < 0x800) {
      *o++ = char(0xC0 | (c >> 6));
      *o++ = char(0x80 | (c & 0x3F));
    } else if (c < 0xDC00 && p < end && *p - 0xDC00u < 0x400) {
      c = 0x10000 + ((c - 0xD800) << 10) + (*p++ - 0xDC00);  // a pair
      *o++ = char(0xF0 | (c >> 18));
      *o++ = char(0x80 | ((c >> 12) & 0x3F));
      *o++ = char(0x80 | ((c >> 6) & 0x3F));
      *o++ = char(0x80 | (c & 0x3F));
    } else {
      *o++ = char(0xEF);  // an unpaired surrogate: U+FFFD
      *o++ = char(0xBF);
      *o++ = char(0xBD);
    }
  }
  return o;
}

// Appends through a writer that needs `room` bytes.
template <typename Writer>
void Append(std::string* out, size_t room, Writer write) {
  size_t at = out->size();
  out->resize(at + room);
  out->resize(size_t(write(out->data() + at) - out->data()));
}

}  // namespace

char* PutUtf8(std::u16string_view s, char* o) { return Utf8Of<false>(s, o); }

char* PutCsvText(std::u16string_view s, char* o) {
  // A doubled quote takes 2 bytes for 1 unit, within the 3 allowed.
  *o++ = '"';
  o = Utf8Of<true>(s, o);
  *o++ = '"';
  return o;
}

void AppendUtf8(std::u16string_view s, std::string* out) {
  Append(out, Utf8Room(s), [&](char* o) { return PutUtf8(s, o); });
}

void AppendCsvText(std::u16string_view s, std::string* out) {
  Append(out, CsvTextRoom(s), [&](char* o) { return PutCsvText(s, o); });
}

char* PutHex(std::string_view bytes, const char* digits, char* o) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* end = p + bytes.size();
  if (bytes.size() >= 256) {
    // Photos: one table look-up per byte.
    char pairs[512];
    for (int i = 0; i < 256; ++i) {
      pairs[2 * i] = digits[i >> 4];
      pairs[2 * i + 1] = digits[i & 15];
    }
    for (; p < end; ++p, o += 2) std::memcpy(o, pairs + 2 * *p, 2);
    return o;
  }
  for (; p < end; ++p) {
    *o++ = digits[*p >> 4];
    *o++ = digits[*p & 15];
  }
  return o;
}

char* PutInt(int64_t v, char* o) {
  // Two digits a step: exports write an id (and a photo's size) per row.
  static const char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  char buf[kIntRoom];
  char* end = buf + sizeof buf;
  char* p = end;
  uint64_t u = v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v);
  while (u >= 100) {
    p -= 2;
    std::memcpy(p, kPairs + 2 * (u % 100), 2);
    u /= 100;
  }
  if (u >= 10) {
    p -= 2;
    std::memcpy(p, kPairs + 2 * u, 2);
  } else {
    *--p = char('0' + u);
  }
  if (v < 0) *--p = '-';
  std::memcpy(o, p, size_t(end - p));
  return o + (end - p);
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
  std::string out;
  Append(&out, ValueCsvRoom(v), [&](char* o) { return PutValueCsv(v, o); });
  return out;
}

size_t ValueCsvRoom(const Value& v) {
  switch (v.index()) {
    case 6: return CsvTextRoom(std::get<std::u16string>(v));
    case 7: return 2 * std::get<Binary>(v).bytes.size();
    case 9: return 32 + std::get<Decimal>(v).scale;  // 29 digits or the scale's zeros, sign, point
    default: return 64;
  }
}

char* PutValueCsv(const Value& v, char* o) {
  // snprintf writes its terminating zero too: these write into buf first.
  char buf[64];
  auto put = [&](int n) {
    std::memcpy(o, buf, size_t(n));
    return o + n;
  };
  switch (v.index()) {
    case 0:
      return o;
    case 1:
      *o++ = std::get<bool>(v) ? '1' : '0';
      return o;
    case 2:
      return PutInt(std::get<int64_t>(v), o);
    case 3:
      return put(std::snprintf(buf, sizeof buf, "%.15g", std::get<double>(v)));
    case 4: {
      int64_t u = std::get<Money>(v).units;
      uint64_t a = u < 0 ? uint64_t(0) - uint64_t(u) : uint64_t(u);
      return put(std::snprintf(buf, sizeof buf, "%s%llu.%04llu", u < 0 ? "-" : "", (unsigned long long)(a / 10000),
                               (unsigned long long)(a % 10000)));
    }
    case 5: {
      CivilTime t;
      if (!OaToCivil(std::get<Date>(v).oa, &t)) return put(std::snprintf(buf, sizeof buf, "%.10g", std::get<Date>(v).oa));
      return PutCivil(t, true, o);
    }
    case 6:
      return PutCsvText(std::get<std::u16string>(v), o);
    case 7:
      return PutHex(std::get<Binary>(v).bytes, "0123456789ABCDEF", o);
    case 8: {
      // Registry form: the first three groups are little-endian.
      const uint8_t* g = std::get<Guid>(v).bytes;
      return put(std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                               g[3], g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13],
                               g[14], g[15]));
    }
    case 9: {
      std::string d = FormatDecimal(std::get<Decimal>(v));
      std::memcpy(o, d.data(), d.size());
      return o + d.size();
    }
  }
  return o;
}

}  // namespace mdb
