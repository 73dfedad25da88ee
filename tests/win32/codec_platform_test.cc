// The codec against the platform's own code page 936 tables.
#include <windows.h>

#include <gtest/gtest.h>

#include "vorta/text_codec.h"

namespace {

std::u16string PlatformDecode(const std::string& bytes) {
  wchar_t out[8];
  int n = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                              out, 8);
  return std::u16string(reinterpret_cast<const char16_t*>(out), n > 0 ? n : 0);
}

TEST(CodecMatchesPlatform, EverySingleByteAndPair) {
  int compared = 0;
  for (int b = 0; b <= 0x80; ++b) {
    std::string s(1, static_cast<char>(b));
    ASSERT_EQ(text::GbkToUtf16(s), PlatformDecode(s)) << std::hex << b;
  }
  for (int lead = 0x81; lead <= 0xFE; ++lead)
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      std::string s{static_cast<char>(lead), static_cast<char>(trail)};
      std::u16string platform = PlatformDecode(s);
      if (platform.size() != 1) continue;  // not a character on this platform
      ++compared;
      ASSERT_EQ(text::GbkToUtf16(s), platform) << std::hex << lead << " " << trail;
    }
  EXPECT_EQ(compared, 23940);
}

TEST(CodecMatchesPlatform, EveryBmpCharacterEncodes) {
  int mapped = 0;
  for (int u = 0x80; u < 0x10000; ++u) {
    if (u >= 0xD800 && u < 0xE000) continue;
    wchar_t w = static_cast<wchar_t>(u);
    char out[4];
    BOOL used_default = FALSE;
    int n = WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, &w, 1, out, 4, nullptr, &used_default);
    std::string ours = text::Utf16ToGbk(std::u16string(1, static_cast<char16_t>(u)));
    if (n <= 0 || used_default) {
      EXPECT_EQ(ours, "?") << std::hex << u;
      continue;
    }
    ++mapped;
    ASSERT_EQ(ours, std::string(out, n)) << std::hex << u;
  }
  EXPECT_GT(mapped, 23000);
}

}  // namespace
