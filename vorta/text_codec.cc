#include "vorta/text_codec.h"

#include <cstdint>
#include <memory>

namespace text {

namespace {

#include "vorta/gbk_table.inc"

constexpr char16_t kReplacementGbk = u'?';
constexpr char16_t kReplacementUtf = 0xFFFD;

// Unicode -> GBK bytes (two bytes big-endian, or one byte below 0x100);
// 0 means unmapped. Built once from the decoding table, so both directions
// always agree.
const uint16_t* EncodeTable() {
  static const std::unique_ptr<uint16_t[]> table = [] {
    auto t = std::make_unique<uint16_t[]>(0x10000);
    for (int i = 0; i < 0x80; ++i) t[i] = static_cast<uint16_t>(i);
    t[0x20AC] = 0x80;
    t[0xF8F5] = 0xFF;
    for (int lead = 0x81; lead <= 0xFE; ++lead)
      for (int trail = 0x40; trail <= 0xFE; ++trail) {
        uint16_t u = kGbkToUnicode[(lead - 0x81) * 191 + (trail - 0x40)];
        if (u != 0 && t[u] == 0) t[u] = static_cast<uint16_t>(lead << 8 | trail);
      }
    return t;
  }();
  return table.get();
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

std::u16string GbkToUtf16(std::string_view gbk) {
  std::u16string out;
  out.reserve(gbk.size());
  for (size_t i = 0; i < gbk.size(); ++i) {
    uint8_t b = static_cast<uint8_t>(gbk[i]);
    if (b < 0x80) {
      out.push_back(b);
    } else if (b == 0x80) {
      out.push_back(0x20AC);
    } else if (b == 0xFF) {
      out.push_back(0xF8F5);
    } else if (i + 1 < gbk.size()) {
      uint8_t t = static_cast<uint8_t>(gbk[i + 1]);
      if (t >= 0x40 && t <= 0xFE && t != 0x7F) {
        uint16_t u = kGbkToUnicode[(b - 0x81) * 191 + (t - 0x40)];
        out.push_back(u != 0 ? u : kReplacementGbk);
        ++i;
      } else {
        out.push_back(kReplacementGbk);  // the trail byte is read on its own
      }
    } else {
      out.push_back(kReplacementGbk);
    }
  }
  return out;
}

std::string Utf16ToGbk(std::u16string_view utf16) {
  const uint16_t* table = EncodeTable();
  // At most two bytes per unit, written in place: every text of every row a
  // list shows comes through here.
  std::string out(utf16.size() * 2, '\0');
  char* o = out.data();
  for (size_t i = 0; i < utf16.size(); ++i) {
    char16_t c = utf16[i];
    if (c < 0x80) {
      *o++ = static_cast<char>(c);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      ++i;  // a character beyond the BMP: none is in the code page
      *o++ = '?';
      continue;
    }
    uint16_t g = table[c];
    if (g == 0) {
      *o++ = '?';
    } else if (g < 0x100) {
      *o++ = static_cast<char>(g);
    } else {
      *o++ = static_cast<char>(g >> 8);
      *o++ = static_cast<char>(g & 0xFF);
    }
  }
  out.resize(static_cast<size_t>(o - out.data()));
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
