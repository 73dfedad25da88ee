// The codec against the platform's own code page 936 (GBK): its texts keep
// their bytes and, but for private-use characters, their meaning.
#include <windows.h>

#include <gtest/gtest.h>

#include "vorta/text_codec.h"

namespace {

std::u16string PlatformDecode(UINT page, const std::string& bytes) {
  wchar_t out[8];
  int n = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), out, 8);
  return std::u16string(reinterpret_cast<const char16_t*>(out), n > 0 ? n : 0);
}

bool PrivateUse(char16_t c) { return c >= 0xE000 && c <= 0xF8FF; }

TEST(CodecAgainstPlatform, GbkTextsMeanWhatTheyMeanThere) {
  for (int b = 0; b <= 0x80; ++b) {
    std::string s(1, static_cast<char>(b));
    ASSERT_EQ(text::Gb18030ToUtf16(s), PlatformDecode(936, s)) << std::hex << b;
  }
  int compared = 0, reread = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead)
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      std::u16string platform = PlatformDecode(936, pair);
      if (platform.size() != 1) continue;  // not a character there
      ++compared;
      std::u16string ours = text::Gb18030ToUtf16(pair);
      ASSERT_EQ(ours.size(), 1u);
      if (ours == platform) {
        ASSERT_EQ(text::Utf16ToGb18030(platform), pair) << std::hex << lead << " " << trail;
        continue;
      }
      // GB18030 gives a standard character where code page 936 has a
      // private-use one; that one still survives, in four bytes.
      ++reread;
      EXPECT_TRUE(PrivateUse(platform[0]) && !PrivateUse(ours[0])) << std::hex << lead << " " << trail;
      EXPECT_EQ(text::Utf16ToGb18030(platform).size(), 4u);
      EXPECT_EQ(text::Gb18030ToUtf16(text::Utf16ToGb18030(platform)), platform);
    }
  EXPECT_EQ(compared, 23940);
  std::printf("%d of the %d pairs read as standard characters where code page 936 has private-use ones\n",
              reread, compared);
  EXPECT_LT(reread, 100);
}

}  // namespace
