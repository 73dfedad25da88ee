// Text comparison as the database does it: letter case (and the width of
// full-width Latin letters and digits) is ignored; ordering puts punctuation
// first, then digits, Latin letters, other scripts, and Chinese ideographs in
// pinyin order.
#pragma once

#include <string>
#include <string_view>

namespace mdb {

// The character with case and width folded away.
char16_t FoldChar(char16_t c);

// Equality and order without regard to case; <0, 0, >0.
int CompareText(std::u16string_view a, std::u16string_view b);
inline bool TextEquals(std::u16string_view a, std::u16string_view b) {
  return CompareText(a, b) == 0;
}

// The place of an ideograph (U+3400..U+9FFF) in pinyin order, from 1; 0
// for any other character.
int PinyinRank(char16_t c);

// A byte string whose plain byte order is the order of CompareText.
std::string SortKey(std::u16string_view text);

// LIKE: % any run, _ one character, [abc] [a-z] [!abc] one of a list;
// case-insensitive.
bool LikeMatch(std::u16string_view text, std::u16string_view pattern);

}  // namespace mdb
