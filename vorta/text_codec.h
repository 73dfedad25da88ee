// The one text codec: GB18030 and UTF-8 to and from UTF-16. It behaves the
// same on every build, independent of the platform's own tables, so the
// Linux tools and the Windows program agree byte for byte.
//
// GB18030 (the 2005 mapping, as Windows code page 54936) is the superset of
// GBK (code page 936) that holds every Unicode character: a GBK text keeps
// its bytes, and any text the database or Windows holds survives the trip to
// bytes and back.
#pragma once

#include <string>
#include <string_view>

namespace text {

// Bytes that form no character become U+003F '?', as Windows gives its
// default character, each byte of a broken sequence that cannot begin one
// read afresh. The two single bytes of code page 936 outside GB18030 read
// as there: 0x80 as U+20AC, 0xFF as U+F8F5 (both then encode as GB18030
// does, in 2 and 4 bytes).
std::u16string Gb18030ToUtf16(std::string_view bytes);

// Every code point encodes. A lone surrogate, which is no character,
// encodes in four bytes of a range GB18030 leaves unassigned (after
// 0x8431A439) and decodes back to itself, so that no UTF-16 text changes.
std::string Utf16ToGb18030(std::u16string_view utf16);

// Malformed UTF-8 becomes U+FFFD; lone surrogates in UTF-16 become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

inline std::string Gb18030ToUtf8(std::string_view bytes) { return Utf16ToUtf8(Gb18030ToUtf16(bytes)); }
inline std::string Utf8ToGb18030(std::string_view utf8) { return Utf16ToGb18030(Utf8ToUtf16(utf8)); }

}  // namespace text
