#include "mdb/sql_date.h"

#include <cmath>

namespace mdb {

int64_t OaToSeconds(double oa) {
  if (!std::isfinite(oa)) return 0;
  double whole = std::trunc(oa);
  double frac = std::fabs(oa - whole);
  return static_cast<int64_t>(whole) * 86400 + std::llround(frac * 86400.0);
}

namespace {

// "h:m" or "h:m:s", optionally with AM/PM: a time on 1899-12-30.
bool ParseTimeOnly(std::string_view s, double* oa) {
  double day = 0;
  // Borrow the date reader by putting the time on the base day.
  std::string full = "1899-12-30 " + std::string(s);
  size_t a = s.find_first_not_of(" \t");
  if (a == std::string_view::npos || s[a] < '0' || s[a] > '9') return false;
  if (!ParseOaDate(full, false, &day)) return false;
  *oa = day;
  return true;
}

}  // namespace

bool ParseDateText(std::u16string_view text, bool us_order, double* oa) {
  std::string ascii;
  for (char16_t c : text) {
    if (c == 0 || c > 0x7F) return false;
    ascii.push_back(static_cast<char>(c));
  }
  if (ParseOaDate(ascii, us_order, oa)) return true;
  if (ascii.find_first_of("-/.") == std::string::npos && ascii.find(':') != std::string::npos)
    return ParseTimeOnly(ascii, oa);
  return false;
}

}  // namespace mdb
