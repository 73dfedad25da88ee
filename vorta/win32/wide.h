// The program's texts (GB18030) meet the wide Windows API only here.
#pragma once

#include <string>
#include <string_view>

#include "vorta/text_codec.h"

namespace vorta::win {

inline std::wstring Wide(std::string_view text) {
  std::u16string u = text::Gb18030ToUtf16(text);
  return std::wstring(u.begin(), u.end());
}

inline std::string Narrow(std::wstring_view w) {
  return text::Utf16ToGb18030(std::u16string(w.begin(), w.end()));
}

}  // namespace vorta::win
