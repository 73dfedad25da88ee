// GBK texts meet the wide Windows API only here.
#pragma once

#include <string>
#include <string_view>

#include "vorta/text_codec.h"

namespace vorta::win {

inline std::wstring Wide(std::string_view gbk) {
  std::u16string u = text::GbkToUtf16(gbk);
  return std::wstring(u.begin(), u.end());
}

inline std::string Gbk(std::wstring_view w) {
  return text::Utf16ToGbk(std::u16string(w.begin(), w.end()));
}

}  // namespace vorta::win
