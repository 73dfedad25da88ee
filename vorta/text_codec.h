// The one text codec: GBK (Windows code page 936) and UTF-8 to and from
// UTF-16. It behaves the same on every build, independent of the platform's
// own tables, so the Linux tools and the Windows program agree byte for byte.
#pragma once

#include <string>
#include <string_view>

namespace text {

// Bytes that form no character of the code page become U+003F '?', as
// Windows gives its default character; a lead byte at the end of the input
// too. 0x80 is U+20AC and 0xFF U+F8F5, as in the Windows table.
std::u16string GbkToUtf16(std::string_view gbk);

// Characters outside the code page become '?'.
std::string Utf16ToGbk(std::u16string_view utf16);

// Malformed UTF-8 becomes U+FFFD; lone surrogates in UTF-16 become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

inline std::string GbkToUtf8(std::string_view gbk) { return Utf16ToUtf8(GbkToUtf16(gbk)); }
inline std::string Utf8ToGbk(std::string_view utf8) { return Utf16ToGbk(Utf8ToUtf16(utf8)); }

}  // namespace text
