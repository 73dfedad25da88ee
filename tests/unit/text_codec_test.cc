#include "vorta/text_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#if !defined(_WIN32) && __has_include(<iconv.h>)
#include <iconv.h>
#define USERMGR_HAVE_ICONV 1
#endif

namespace {

std::u16string Utf16Of(uint32_t cp) {
  if (cp < 0x10000) return std::u16string(1, static_cast<char16_t>(cp));
  cp -= 0x10000;
  return {static_cast<char16_t>(0xD800 + (cp >> 10)), static_cast<char16_t>(0xDC00 + (cp & 0x3FF))};
}

TEST(Gb18030Codec, KnownCharacters) {
  EXPECT_EQ(text::Utf16ToGb18030(u"用户管理"), "\xD3\xC3\xBB\xA7\xB9\xDC\xC0\xED");
  EXPECT_EQ(text::Gb18030ToUtf16("\xD3\xC3\xBB\xA7\xB9\xDC\xC0\xED"), u"用户管理");
  // Characters outside GBK: four bytes each, and back.
  const struct {
    const char16_t* text;
    const char* bytes;
  } outside[] = {
      {u"\u00F6", "\x81\x30\x8B\x32"},      // ö
      {u"\u00DF", "\x81\x30\x89\x38"},      // ß
      {u"\uD55C", "\x83\x36\x84\x33"},      // Hangul
      {u"\u0E01", "\x81\x32\xCE\x39"},      // Thai
      {u"\U0001F600", "\x94\x39\xFC\x36"},  // beyond the BMP
      {u"\u0080", "\x81\x30\x81\x30"},      // the first four-byte sequence
      {u"\uFFFF", "\x84\x31\xA4\x39"},      // the last one of the BMP
      {u"\U0010FFFF", "\xE3\x32\x9A\x35"},
      {u"\u1E3F", "\xA8\xBC"},             // the 2005 mapping
      {u"\uE7C7", "\x81\x35\xF4\x37"},
  };
  for (const auto& c : outside) {
    EXPECT_EQ(text::Utf16ToGb18030(c.text), c.bytes);
    EXPECT_EQ(text::Gb18030ToUtf16(c.bytes), c.text);
  }
  EXPECT_EQ(text::Utf16ToGb18030(u"\u00E9"), "\xA8\xA6");  // é was in GBK: two bytes as there
  // A user-defined area maps into the private use area, as on Windows.
  EXPECT_EQ(text::Gb18030ToUtf16("\xAA\xA1"), u"\uE000");
  EXPECT_EQ(text::Utf16ToGb18030(u"\uE000"), "\xAA\xA1");
}

TEST(Gb18030Codec, AsciiIsUnchanged) {
  std::string all;
  for (int c = 0; c < 0x80; ++c) all.push_back(static_cast<char>(c));
  std::u16string wide = text::Gb18030ToUtf16(all);
  ASSERT_EQ(wide.size(), all.size());
  for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(wide[i], static_cast<char16_t>(all[i]));
  EXPECT_EQ(text::Utf16ToGb18030(wide), all);
}

// Every Unicode scalar value becomes one sequence of 1, 2 or 4 bytes that
// reads back as that value alone; the whole range in one text reads back too.
TEST(Gb18030Codec, EveryScalarValueRoundTrips) {
  std::u16string all;
  for (uint32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::u16string u = Utf16Of(cp);
    std::string bytes = text::Utf16ToGb18030(u);
    size_t want = cp < 0x80 ? 1 : (bytes.size() == 2 ? 2 : 4);
    ASSERT_EQ(bytes.size(), want) << std::hex << cp;
    ASSERT_EQ(text::Gb18030ToUtf16(bytes), u) << std::hex << cp;
    all += u;
  }
  EXPECT_EQ(text::Gb18030ToUtf16(text::Utf16ToGb18030(all)), all);
}

// Not characters, but UTF-16 texts may hold them (Windows and the database
// accept them): they survive too.
TEST(Gb18030Codec, LoneSurrogatesSurvive) {
  for (std::u16string s : {std::u16string(1, char16_t(0xD800)), std::u16string(1, char16_t(0xDFFF)),
                           std::u16string{u'a', char16_t(0xDC00), u'b'},
                           std::u16string{char16_t(0xDBFF), char16_t(0xDBFF), char16_t(0xDC00)}})
    EXPECT_EQ(text::Gb18030ToUtf16(text::Utf16ToGb18030(s)), s);
  EXPECT_EQ(text::Utf16ToGb18030(std::u16string(1, char16_t(0xD800))), "\x84\x31\xA5\x30");
}

// GBK texts keep their bytes: every pair of code page 936 reads as one
// character that writes back as the same two bytes, no two pairs alike. Its
// two single bytes outside GB18030 read as there (the euro sign and U+F8F5)
// and write as GB18030 writes those characters; no text the program holds
// has them: its texts come from Windows and the database in UTF-16.
TEST(Gb18030Codec, WholeGbkCodePageKeepsItsBytes) {
  std::u16string seen;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      std::u16string u = text::Gb18030ToUtf16(pair);
      ASSERT_EQ(u.size(), 1u) << std::hex << lead << trail;
      ASSERT_NE(u[0], u'?') << std::hex << lead << trail;
      EXPECT_EQ(text::Utf16ToGb18030(u), pair) << std::hex << lead << " " << trail;
      seen.push_back(u[0]);
    }
  }
  EXPECT_EQ(seen.size(), 23940u);
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
  EXPECT_EQ(text::Gb18030ToUtf16("\x80"), u"\u20AC");
  EXPECT_EQ(text::Utf16ToGb18030(u"\u20AC"), "\xA2\xE3");
  EXPECT_EQ(text::Gb18030ToUtf16("\xFF"), u"\uF8F5");
  EXPECT_EQ(text::Utf16ToGb18030(u"\uF8F5"), "\x83\x39\xFE\x30");
}

#ifdef USERMGR_HAVE_ICONV
// Against the C library's converter, an implementation of its own. It
// follows the 2022 edition in 18 pairs and 6 more of its own choosing (it
// then has no bytes for the private-use characters those pairs had); every
// other character it writes, it writes alike.
TEST(Gb18030Codec, AsTheCLibraryWritesIt) {
  iconv_t cd = iconv_open("GB18030", "UTF-32LE");
  if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "no GB18030 in this C library";
  const std::u16string own_choice = u"\uFE10\uFE11\uFE12\uFE13\uFE14\uFE15\uFE16\uFE17\uFE18\uFE19"
                                    u"\u9FB4\u9FB5\u9FB6\u9FB7\u9FB8\u9FB9\u9FBA\u9FBB"
                                    u"\U00020087\U00020089\U000200CC\U000215D7\U0002298F\U000241FE";
  int compared = 0, differ = 0;
  for (uint32_t cp = 0x80; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    char in[4] = {static_cast<char>(cp), static_cast<char>(cp >> 8), static_cast<char>(cp >> 16), 0};
    char out[8];
    char* ip = in;
    char* op = out;
    size_t il = 4, ol = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1)) continue;
    std::u16string u = Utf16Of(cp);
    if (own_choice.find(u) != std::u16string::npos) continue;
    ++compared;
    if (std::string(out, op) != text::Utf16ToGb18030(u) && ++differ <= 10)
      ADD_FAILURE() << "U+" << std::hex << cp << " differs";
  }
  iconv_close(cd);
  EXPECT_EQ(differ, 0);
  EXPECT_GT(compared, 1100000);
}
#endif

TEST(Gb18030Codec, BrokenSequencesBecomeQuestionMarks) {
  EXPECT_EQ(text::Gb18030ToUtf16("\x81"), u"?");                 // lead byte at the end
  EXPECT_EQ(text::Gb18030ToUtf16("\x81\x7F" "A"), u"?\x7F" u"A");  // 0x7F is no trail byte
  EXPECT_EQ(text::Gb18030ToUtf16("\x81\x20" "B"), u"? B");       // the next byte is read on its own
  EXPECT_EQ(text::Gb18030ToUtf16("\xFE\xFF"), u"?\uF8F5");
  EXPECT_EQ(text::Gb18030ToUtf16("\x81\x30"), u"?0");            // four bytes cut short
  EXPECT_EQ(text::Gb18030ToUtf16("\x81\x30\x81"), u"?0?");
  EXPECT_EQ(text::Gb18030ToUtf16("\x81\x30\x20\x30"), u"?0 0");
  // Well-formed, but no character has the number: one mark for the four.
  EXPECT_EQ(text::Gb18030ToUtf16("\x84\x39\xFE\x39" "A"), u"?A");
  EXPECT_EQ(text::Gb18030ToUtf16("\xE3\x32\x9A\x36"), u"?");
  EXPECT_EQ(text::Gb18030ToUtf16("\xFE\x39\xFE\x39"), u"?");
}

TEST(Gb18030Codec, RandomBytesNeverGrowOrCrash) {
  std::mt19937 rng(936);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(rng() % 64, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    std::u16string u = text::Gb18030ToUtf16(bytes);
    EXPECT_LE(u.size(), bytes.size());
    std::string back = text::Utf16ToGb18030(u);
    EXPECT_LE(back.size(), 4 * u.size());
    EXPECT_EQ(text::Gb18030ToUtf16(back), u);
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
  EXPECT_EQ(text::Gb18030ToUtf8("\xD5\xC5\xC8\xFD"), "\xE5\xBC\xA0\xE4\xB8\x89");
  EXPECT_EQ(text::Utf8ToGb18030("\xE5\xBC\xA0\xE4\xB8\x89"), "\xD5\xC5\xC8\xFD");
  EXPECT_EQ(text::Utf8ToGb18030("\xC3\xB6"), "\x81\x30\x8B\x32");  // ö
}

}  // namespace
