#include "vorta/text_codec.h"

#include <algorithm>
#include <cstdint>
#include <memory>

namespace text {

namespace {

struct FourByteRun {
  uint32_t first;     // number of the run's first four-byte sequence
  char16_t code;      // its code point
};

#include "vorta/gb18030_table.inc"

constexpr char16_t kReplacementByte = u'?';
constexpr char16_t kReplacementUtf = 0xFFFD;
// Four-byte numbers from here on carry lone surrogates (unassigned in GB18030).
constexpr uint32_t kLoneSurrogateFirst = kFourByteBmpCount;
constexpr uint32_t kSupplementaryFirst = 189000;  // 0x90308130 is U+10000

bool IsLead(uint8_t b) { return b >= 0x81 && b <= 0xFE; }
bool IsDigit(uint8_t b) { return b >= 0x30 && b <= 0x39; }
bool IsPairTrail(uint8_t b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

// Code unit -> its bytes: below 0x10000 the pair (lead << 8 | trail) or an
// ASCII byte, else 0x10000 + the four-byte number. Built once from the
// decoding tables, so both directions always agree.
const uint32_t* EncodeTable() {
  static const std::unique_ptr<uint32_t[]> table = [] {
    auto t = std::make_unique<uint32_t[]>(0x10000);
    for (uint32_t i = 0; i < 0x80; ++i) t[i] = i;
    for (uint32_t lead = 0x81; lead <= 0xFE; ++lead)
      for (uint32_t trail = 0x40; trail <= 0xFE; ++trail)
        if (trail != 0x7F)
          t[kPairToUnicode[(lead - 0x81) * 190 + trail - 0x40 - (trail > 0x7F)]] = lead << 8 | trail;
    constexpr size_t runs = sizeof kFourByteRuns / sizeof kFourByteRuns[0];
    for (size_t r = 0; r < runs; ++r) {
      uint32_t end = r + 1 < runs ? kFourByteRuns[r + 1].first : kFourByteBmpCount;
      for (uint32_t n = kFourByteRuns[r].first; n < end; ++n)
        t[kFourByteRuns[r].code + (n - kFourByteRuns[r].first)] = 0x10000 + n;
    }
    for (uint32_t s = 0; s < 0x800; ++s) t[0xD800 + s] = 0x10000 + kLoneSurrogateFirst + s;
    return t;
  }();
  return table.get();
}

// The code unit of a four-byte number below kSupplementaryFirst, or 0.
char16_t FourByteBmp(uint32_t n) {
  if (n >= kFourByteBmpCount) {
    return n < kLoneSurrogateFirst + 0x800 ? static_cast<char16_t>(0xD800 + (n - kLoneSurrogateFirst)) : 0;
  }
  const FourByteRun* end = kFourByteRuns + sizeof kFourByteRuns / sizeof kFourByteRuns[0];
  const FourByteRun* run = std::upper_bound(kFourByteRuns, end, n,
                                            [](uint32_t v, const FourByteRun& r) { return v < r.first; }) - 1;
  return static_cast<char16_t>(run->code + (n - run->first));
}

void WriteFourBytes(char* b, uint32_t n) {
  b[3] = static_cast<char>(0x30 + n % 10), n /= 10;
  b[2] = static_cast<char>(0x81 + n % 126), n /= 126;
  b[1] = static_cast<char>(0x30 + n % 10), n /= 10;
  b[0] = static_cast<char>(0x81 + n);
}

void AppendUtf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::u16string Gb18030ToUtf16(std::string_view in) {
  std::u16string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    uint8_t b = static_cast<uint8_t>(in[i]);
    if (b < 0x80) {
      out.push_back(b);
      continue;
    }
    if (b == 0x80 || b == 0xFF) {
      out.push_back(b == 0x80 ? u'\u20AC' : u'\uF8F5');
      continue;
    }
    size_t left = in.size() - i - 1;
    uint8_t t = left >= 1 ? static_cast<uint8_t>(in[i + 1]) : 0;
    if (left >= 1 && IsPairTrail(t)) {
      out.push_back(kPairToUnicode[(b - 0x81) * 190 + t - 0x40 - (t > 0x7F)]);
      ++i;
      continue;
    }
    if (left >= 3 && IsDigit(t) && IsLead(static_cast<uint8_t>(in[i + 2])) &&
        IsDigit(static_cast<uint8_t>(in[i + 3]))) {
      uint32_t n = (((b - 0x81) * 10u + (t - 0x30)) * 126u + (static_cast<uint8_t>(in[i + 2]) - 0x81)) * 10u +
                   (static_cast<uint8_t>(in[i + 3]) - 0x30);
      i += 3;
      if (n >= kSupplementaryFirst && n < kSupplementaryFirst + 0x100000) {
        uint32_t v = n - kSupplementaryFirst;
        out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
      } else {
        char16_t c = n < kSupplementaryFirst ? FourByteBmp(n) : 0;
        out.push_back(c != 0 ? c : kReplacementByte);  // a number no character has
      }
      continue;
    }
    out.push_back(kReplacementByte);  // the next byte is read on its own
  }
  return out;
}

std::string Utf16ToGb18030(std::u16string_view in) {
  const uint32_t* table = EncodeTable();
  // Written in place, two bytes a unit to begin with (every text of every
  // row a list shows comes through here); the rare four-byte sequence makes
  // room for itself.
  std::string out(in.size() * 2, '\0');
  size_t o = 0;
  auto room = [&out, &o](size_t n) {
    if (out.size() - o < n) out.resize(std::max(out.size() * 2, o + n));
  };
  for (size_t i = 0; i < in.size(); ++i) {
    char16_t c = in[i];
    if (c < 0x80) {
      room(1);
      out[o++] = static_cast<char>(c);
      continue;
    }
    uint32_t four;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      four = kSupplementaryFirst + (static_cast<uint32_t>(c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (uint32_t g = table[c]; g < 0x10000) {
      room(2);
      out[o++] = static_cast<char>(g >> 8);
      out[o++] = static_cast<char>(g & 0xFF);
      continue;
    } else {
      four = g - 0x10000;
    }
    room(4);
    WriteFourBytes(&out[o], four);
    o += 4;
  }
  out.resize(o);
  return out;
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    uint8_t b = static_cast<uint8_t>(s[i]);
    uint32_t cp;
    int extra;
    if (b < 0x80) { cp = b; extra = 0; }
    else if (b >= 0xC2 && b <= 0xDF) { cp = b & 0x1F; extra = 1; }
    else if (b >= 0xE0 && b <= 0xEF) { cp = b & 0x0F; extra = 2; }
    else if (b >= 0xF0 && b <= 0xF4) { cp = b & 0x07; extra = 3; }
    else { out.push_back(kReplacementUtf); ++i; continue; }
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= s.size() || (static_cast<uint8_t>(s[i + k]) & 0xC0) != 0x80) { ok = false; break; }
      cp = cp << 6 | (static_cast<uint8_t>(s[i + k]) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are malformed.
    if (ok && ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
               (cp >= 0xD800 && cp <= 0xDFFF)))
      ok = false;
    if (!ok) {
      out.push_back(kReplacementUtf);
      ++i;
      while (i < s.size() && (static_cast<uint8_t>(s[i]) & 0xC0) == 0x80) ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += extra + 1;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size() * 3);
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacementUtf;
    }
    AppendUtf8(&out, c);
  }
  return out;
}

}  // namespace text
