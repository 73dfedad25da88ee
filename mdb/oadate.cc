#include "mdb/oadate.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>

namespace mdb {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int* y, int* m, int* d) {
  z += 719468;
  // Every supported year (100 to 9999) lies in the 25 eras after year 0:
  // 32-bit unsigned arithmetic, as exports convert a date per row.
  if (z >= 0 && z < 25 * 146097) {
    const uint32_t era = uint32_t(z) / 146097;
    const uint32_t doe = uint32_t(z) - era * 146097;
    const uint32_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const uint32_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const uint32_t mp = (5 * doy + 2) / 153;
    *d = int(doy - (153 * mp + 2) / 5 + 1);
    *m = int(mp < 10 ? mp + 3 : mp - 9);
    *y = int(yoe + era * 400 + (*m <= 2));
    return;
  }
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yoe + era * 400 + (*m <= 2));
}

const int64_t kEpochDays = DaysFromCivil(1899, 12, 30);

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
  return kDays[m - 1];
}

}  // namespace

bool IsValidCivil(const CivilTime& t) {
  return t.year >= 100 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
         t.day <= DaysInMonth(t.year, t.month) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
         t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

bool OaToCivil(double oa, CivilTime* out) {
  // Written so that a NaN fails too, and without library calls (trunc is
  // one on a plain x86-64): exports convert a date per row.
  if (!(oa >= -657435.0 && oa < 2958466.0)) return false;
  int64_t days = static_cast<int64_t>(oa);  // toward zero, as trunc
  double frac = std::fabs(oa - static_cast<double>(days));
  // Most stored dates are whole days.
  int64_t secs = frac == 0 ? 0 : std::llround(frac * 86400.0);
  if (secs >= 86400) {
    secs -= 86400;
    days += 1;
  }
  int y, m, d;
  CivilFromDays(kEpochDays + days, &y, &m, &d);
  if (y < 100 || y > 9999) return false;
  out->year = y;
  out->month = m;
  out->day = d;
  out->hour = static_cast<int>(secs / 3600);
  out->minute = static_cast<int>(secs / 60 % 60);
  out->second = static_cast<int>(secs % 60);
  return true;
}

double CivilToOa(const CivilTime& t) {
  double days = static_cast<double>(DaysFromCivil(t.year, t.month, t.day) - kEpochDays);
  double frac = (t.hour * 3600 + t.minute * 60 + t.second) / 86400.0;
  return days >= 0 ? days + frac : days - frac;
}

std::string FormatOaDate(double oa) {
  std::string out;
  AppendOaDate(oa, &out);
  return out;
}

void AppendOaDate(double oa, std::string* out) {
  CivilTime t;
  if (!OaToCivil(oa, &t)) return;
  char buf[20];
  out->append(buf, PutCivil(t, t.hour != 0 || t.minute != 0 || t.second != 0, buf));
}

char* PutCivil(const CivilTime& t, bool with_time, char* o) {
  // Two digits at a time from a table: list fills and exports write a date
  // per row.
  static const char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  auto put = [](int v, char* p) {
    std::memcpy(p, kPairs + 2 * v, 2);
    return p + 2;
  };
  o = put(t.year / 100, o);
  o = put(t.year % 100, o);
  *o++ = '-';
  o = put(t.month, o);
  *o++ = '-';
  o = put(t.day, o);
  if (with_time) {
    *o++ = ' ';
    o = put(t.hour, o);
    *o++ = ':';
    o = put(t.minute, o);
    *o++ = ':';
    o = put(t.second, o);
  }
  return o;
}

namespace {

struct Scanner {
  std::string_view s;
  size_t i = 0;
  void SkipBlanks() {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  }
  // Up to max_digits decimal digits; false when there is none.
  bool Number(int* value, int* digits, int max_digits = 4) {
    int v = 0, n = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && n < max_digits) {
      v = v * 10 + (s[i] - '0');
      ++i;
      ++n;
    }
    if (n == 0) return false;
    if (i < s.size() && s[i] >= '0' && s[i] <= '9') return false;  // too many digits
    *value = v;
    if (digits) *digits = n;
    return true;
  }
  bool Take(char c) {
    if (i < s.size() && s[i] == c) {
      ++i;
      return true;
    }
    return false;
  }
  bool TakeWord(const char* w) {
    size_t k = 0;
    while (w[k]) {
      if (i + k >= s.size()) return false;
      char a = s[i + k];
      if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
      if (a != w[k]) return false;
      ++k;
    }
    i += k;
    return true;
  }
  bool AtEnd() const { return i == s.size(); }
};

}  // namespace

bool ParseOaDate(std::string_view text, bool month_first, double* oa) {
  Scanner sc{text};
  sc.SkipBlanks();
  int a, b, c, da, dc;
  if (!sc.Number(&a, &da)) return false;
  char sep = sc.i < text.size() ? text[sc.i] : 0;
  if (sep != '-' && sep != '/' && sep != '.') return false;
  ++sc.i;
  if (!sc.Number(&b, nullptr, 2)) return false;
  if (!sc.Take(sep)) return false;
  if (!sc.Number(&c, &dc)) return false;
  CivilTime t;
  if (da >= 3 || !month_first) {
    if (da <= 2) return false;  // a two-digit year first is ambiguous: refuse
    t.year = a;
    t.month = b;
    t.day = c;
  } else {
    if (dc < 3) return false;
    t.month = a;
    t.day = b;
    t.year = c;
  }
  size_t before_time = sc.i;
  sc.SkipBlanks();
  if (!sc.AtEnd()) {
    if (sc.i == before_time) return false;  // a time needs a blank before it
    if (!sc.Number(&t.hour, nullptr, 2) || !sc.Take(':') || !sc.Number(&t.minute, nullptr, 2))
      return false;
    if (sc.Take(':') && !sc.Number(&t.second, nullptr, 2)) return false;
    sc.SkipBlanks();
    if (sc.TakeWord("PM")) {
      if (t.hour < 1 || t.hour > 12) return false;
      if (t.hour != 12) t.hour += 12;
    } else if (sc.TakeWord("AM")) {
      if (t.hour < 1 || t.hour > 12) return false;
      if (t.hour == 12) t.hour = 0;
    }
    sc.SkipBlanks();
    if (!sc.AtEnd()) return false;
  }
  if (!IsValidCivil(t)) return false;
  *oa = CivilToOa(t);
  return true;
}

double NowOa() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  CivilTime t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec > 59 ? 59 : local.tm_sec;
  return CivilToOa(t);
}

double TodayOa() { return std::floor(NowOa()); }

}  // namespace mdb
