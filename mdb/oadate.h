// Date-times as Access stores them: OLE automation dates, days since
// 1899-12-30 with the time of day as the fraction (before that day the whole
// days count back while the fraction still counts forward).
#pragma once

#include <string>
#include <string_view>

namespace mdb {

struct CivilTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
  bool operator==(const CivilTime&) const = default;
};

// Rounded to the nearest second. False outside the years 100 to 9999 or for
// a value that is not a number.
bool OaToCivil(double oa, CivilTime* out);
// The fields must be in range (see IsValidCivil).
double CivilToOa(const CivilTime& t);
bool IsValidCivil(const CivilTime& t);

// "1990-05-07" when the time of day is midnight, "2001-12-23 14:05:09"
// otherwise; "" for a value outside the supported years.
std::string FormatOaDate(double oa);
// The same text appended to *out.
void AppendOaDate(double oa, std::string* out);
// Writes "YYYY-MM-DD", then " HH:MM:SS" when with_time, at buf (19 bytes at
// most); returns the end. The fields must be in range.
char* PutCivil(const CivilTime& t, bool with_time, char* buf);

// Reads "1990-05-07", "1990-5-7 0:0:0", "1990/5/7 14:05", "2001-12-23
// 2:05:09 PM" and, with month_first, the US order "5/7/1990" that Access
// uses inside #...# literals when the year does not come first. Leading and
// trailing blanks are ignored; anything else left over makes it fail.
bool ParseOaDate(std::string_view text, bool month_first, double* oa);

// The current local date and time, and today at midnight.
double NowOa();
double TodayOa();

}  // namespace mdb
