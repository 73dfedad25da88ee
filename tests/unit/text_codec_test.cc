#include "vorta/text_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

TEST(GbkCodec, KnownCharacters) {
  EXPECT_EQ(text::Utf16ToGbk(u"用户管理"), "\xD3\xC3\xBB\xA7\xB9\xDC\xC0\xED");
  EXPECT_EQ(text::GbkToUtf16("\xD3\xC3\xBB\xA7\xB9\xDC\xC0\xED"), u"用户管理");
  EXPECT_EQ(text::GbkToUtf16("\x80"), u"\u20AC");
  EXPECT_EQ(text::Utf16ToGbk(u"\u20AC"), "\x80");
  EXPECT_EQ(text::GbkToUtf16("\xFF"), u"\uF8F5");
  // A user-defined area maps into the private use area, as on Windows.
  EXPECT_EQ(text::GbkToUtf16("\xAA\xA1"), u"\uE000");
  EXPECT_EQ(text::Utf16ToGbk(u"\uE000"), "\xAA\xA1");
}

TEST(GbkCodec, AsciiIsUnchanged) {
  std::string all;
  for (int c = 0; c < 0x80; ++c) all.push_back(static_cast<char>(c));
  std::u16string wide = text::GbkToUtf16(all);
  ASSERT_EQ(wide.size(), all.size());
  for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(wide[i], static_cast<char16_t>(all[i]));
  EXPECT_EQ(text::Utf16ToGbk(wide), all);
}

// Every pair the code page defines decodes to one character that encodes
// back to the same two bytes; no two pairs share a character.
TEST(GbkCodec, WholeCodePageRoundTrips) {
  int defined = 0;
  std::u16string seen;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      std::u16string u = text::GbkToUtf16(pair);
      ASSERT_EQ(u.size(), 1u) << std::hex << lead << trail;
      if (u[0] == u'?') continue;
      ++defined;
      EXPECT_EQ(text::Utf16ToGbk(u), pair) << std::hex << lead << " " << trail;
      seen.push_back(u[0]);
    }
  }
  EXPECT_EQ(defined, 23940);  // the double-byte pairs the Windows table defines
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
}

TEST(GbkCodec, UndefinedBytesBecomeQuestionMarks) {
  EXPECT_EQ(text::GbkToUtf16("\x81"), u"?");                 // lead byte at the end
  EXPECT_EQ(text::GbkToUtf16("\x81\x7F" "A"), u"?\x7F" u"A");  // 0x7F is no trail byte
  EXPECT_EQ(text::GbkToUtf16("\x81\x20" "B"), u"? B");       // the trail is read on its own
  EXPECT_EQ(text::GbkToUtf16("\xFE\xFF"), u"?\uF8F5");  // 0xFF is no trail byte either
  EXPECT_EQ(text::Utf16ToGbk(u"\U0001F600"), "?");           // outside the BMP
  EXPECT_EQ(text::Utf16ToGbk(u"\u0E01"), "?");               // Thai is not in the code page
}

TEST(GbkCodec, RandomBytesNeverGrowOrCrash) {
  std::mt19937 rng(936);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(rng() % 64, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    std::u16string u = text::GbkToUtf16(bytes);
    EXPECT_LE(u.size(), bytes.size());
    std::string back = text::Utf16ToGbk(u);
    EXPECT_LE(back.size(), 2 * u.size());
  }
}

TEST(Utf8Codec, RoundTripsAndRejectsMalformedInput) {
  const std::u16string sample = u"张三 O'Brien \u20AC \U0001F600";
  EXPECT_EQ(text::Utf8ToUtf16(text::Utf16ToUtf8(sample)), sample);
  EXPECT_EQ(text::Utf8ToUtf16("\xE5\xBC"), u"\uFFFD");          // truncated
  EXPECT_EQ(text::Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");    // overlong
  EXPECT_EQ(text::Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD");      // a surrogate
  EXPECT_EQ(text::Utf8ToUtf16("a\xFF" "b"), u"a\uFFFD" "b");
  EXPECT_EQ(text::Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  // (This file's narrow literals are GBK, so the UTF-8 form is spelled out.)
  EXPECT_EQ(text::GbkToUtf8("\xD5\xC5\xC8\xFD"), "\xE5\xBC\xA0\xE4\xB8\x89");
  EXPECT_EQ(text::Utf8ToGbk("\xE5\xBC\xA0\xE4\xB8\x89"), "\xD5\xC5\xC8\xFD");
}

}  // namespace
