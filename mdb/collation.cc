#include "mdb/collation.h"

#include <cstdint>

namespace mdb {

namespace {

#include "mdb/collation_pinyin.inc"

// Base letters of the accented Latin-1 lower-case letters U+00E0..U+00FF.
const char kLatin1Base[] = "aaaaaaaceeeeiiii" "dnooooo/ouuuuyty";

enum Class : uint8_t {
  kSpace = 1,
  kPunct = 2,
  kDigit = 3,
  kLatin = 4,
  kOther = 5,
  kHan = 6,
};

struct Weight {
  uint8_t cls;
  uint16_t primary;
};

Weight WeightOf(char16_t raw) {
  char16_t c = FoldChar(raw);
  if (c <= 0x20 || c == 0x3000) return {kSpace, c == 0x3000 ? char16_t(0x20) : c};
  if (c >= u'0' && c <= u'9') return {kDigit, static_cast<uint16_t>(c)};
  if (c >= u'a' && c <= u'z') return {kLatin, static_cast<uint16_t>((c - u'a') * 4 + 2)};
  if (c >= 0xE0 && c <= 0xFF && c != 0xF7) {
    char base = kLatin1Base[c - 0xE0];
    // Just after the plain letter, so "é" sorts among the e's.
    return {kLatin, static_cast<uint16_t>((base - 'a') * 4 + 3)};
  }
  if (c < 0x80) return {kPunct, c};
  if (c >= kPinyinFirst && c <= kPinyinLast) return {kHan, kPinyinRank[c - kPinyinFirst]};
  if (c >= 0x2000 && c <= 0x2BFF) return {kPunct, c};
  if (c >= 0x3000 && c <= 0x303F) return {kPunct, c};
  if (c >= 0xFF00 && c <= 0xFF65) return {kPunct, c};
  return {kOther, c};
}

}  // namespace

char16_t FoldChar(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? c + 0x20 : c;
  // Full-width ASCII forms fold to their ordinary shapes.
  if (c >= 0xFF01 && c <= 0xFF5E) return FoldChar(static_cast<char16_t>(c - 0xFF01 + 0x21));
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149) {
    // Latin Extended-A pairs mostly upper at even places (some at odd).
    bool odd_pairs = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (odd_pairs ? (c % 2 == 1) : (c % 2 == 0)) return c + 1;
    return c;
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;  // Greek
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;                // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  return c;
}

int PinyinRank(char16_t c) {
  return c >= kPinyinFirst && c <= kPinyinLast ? kPinyinRank[c - kPinyinFirst] : 0;
}

int CompareText(std::u16string_view a, std::u16string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    if (FoldChar(a[i]) == FoldChar(b[i])) continue;
    Weight wa = WeightOf(a[i]), wb = WeightOf(b[i]);
    if (wa.cls != wb.cls) return wa.cls < wb.cls ? -1 : 1;
    if (wa.primary != wb.primary) return wa.primary < wb.primary ? -1 : 1;
    // Same weight, different characters (should not happen): by code.
    return FoldChar(a[i]) < FoldChar(b[i]) ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string SortKey(std::u16string_view text) {
  std::string key;
  key.reserve(text.size() * 5);
  for (char16_t raw : text) {
    Weight w = WeightOf(raw);
    char16_t f = FoldChar(raw);
    key.push_back(static_cast<char>(w.cls));
    key.push_back(static_cast<char>(w.primary >> 8));
    key.push_back(static_cast<char>(w.primary & 0xFF));
    key.push_back(static_cast<char>(f >> 8));
    key.push_back(static_cast<char>(f & 0xFF));
  }
  return key;
}

namespace {

// Matches one [...] list at pattern[p] (just after '['); sets *end past ']'.
bool MatchList(std::u16string_view pat, size_t p, char16_t c, bool* ok, size_t* end) {
  bool negate = false;
  if (p < pat.size() && pat[p] == u'!') {
    negate = true;
    ++p;
  }
  bool hit = false;
  bool first = true;
  char16_t fc = FoldChar(c);
  while (p < pat.size() && (pat[p] != u']' || first)) {
    char16_t lo = pat[p];
    if (p + 2 < pat.size() && pat[p + 1] == u'-' && pat[p + 2] != u']') {
      char16_t hi = pat[p + 2];
      if ((fc >= FoldChar(lo) && fc <= FoldChar(hi)) || (c >= lo && c <= hi)) hit = true;
      p += 3;
    } else {
      if (FoldChar(lo) == fc) hit = true;
      ++p;
    }
    first = false;
  }
  if (p >= pat.size()) return false;  // no closing bracket
  *end = p + 1;
  *ok = hit != negate;
  return true;
}

// Matches one pattern element (not %) at pattern[p] against c; *next gets
// the place after the element.
bool MatchOne(std::u16string_view pat, size_t p, char16_t c, size_t* next) {
  char16_t pc = pat[p];
  if (pc == u'_') {
    *next = p + 1;
    return true;
  }
  if (pc == u'[') {
    bool ok = false;
    if (MatchList(pat, p + 1, c, &ok, next)) return ok;
    // An unclosed bracket stands for itself.
  }
  *next = p + 1;
  return FoldChar(pc) == FoldChar(c);
}

}  // namespace

bool LikeMatch(std::u16string_view s, std::u16string_view pat) {
  // Every element but % takes exactly one character, so going back to the
  // last % is enough: linear in practice, never exponential.
  size_t i = 0, p = 0;
  size_t star_p = std::u16string_view::npos, star_i = 0;
  while (i < s.size()) {
    size_t next = 0;
    if (p < pat.size() && pat[p] == u'%') {
      while (p < pat.size() && pat[p] == u'%') ++p;
      star_p = p;
      star_i = i;
    } else if (p < pat.size() && MatchOne(pat, p, s[i], &next)) {
      p = next;
      ++i;
    } else if (star_p != std::u16string_view::npos) {
      p = star_p;
      i = ++star_i;
    } else {
      return false;
    }
  }
  while (p < pat.size() && pat[p] == u'%') ++p;
  return p == pat.size();
}

}  // namespace mdb
