#include "vorta/convert.h"
#include "vorta/text_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "mdb/oadate.h"
#include "mdb/value_format.h"

namespace {

using rt::Value;

double Oa(int y, int m, int d, int h = 0, int n = 0, int s = 0) {
  mdb::CivilTime t{y, m, d, h, n, s};
  EXPECT_TRUE(mdb::IsValidCivil(t));
  return mdb::CivilToOa(t);
}

TEST(ToText, DatesNumbersTexts) {
  EXPECT_EQ(vorta::ToText(Value::FromDate({Oa(1990, 5, 7)})), "1990-05-07");
  EXPECT_EQ(vorta::ToText(Value::FromDate({Oa(2001, 12, 23, 14, 5, 9)})), "2001-12-23 14:05:09");
  EXPECT_EQ(vorta::ToText(Value::FromDate({0})), "1899-12-30");
  EXPECT_EQ(vorta::ToText(Value::FromInt(12)), "12");
  EXPECT_EQ(vorta::ToText(Value::FromInt(-7)), "-7");
  EXPECT_EQ(vorta::ToText(Value::FromFloat(3.5)), "3.5");
  EXPECT_EQ(vorta::ToText(Value::FromFloat(0.1)), "0.1");
  EXPECT_EQ(vorta::ToText(Value::FromFloat(1e20)), "100000000000000000000");
  EXPECT_EQ(vorta::ToText(Value::FromFloat(-2.5e-7)), "-0.00000025");
  EXPECT_EQ(vorta::ToText(Value::FromFloat(42)), "42");
  EXPECT_EQ(vorta::ToText(Value::FromText("O'Brien")), "O'Brien");
  EXPECT_EQ(vorta::ToText(Value()), "");
  EXPECT_EQ(vorta::ToText(Value::FromBytes("ab")), "ab");
}

// A date's text must read back as the same date: the person form writes it
// into a quoted literal and the list shows it.
TEST(ToText, DateTextReadsBack) {
  for (double oa : {Oa(1990, 5, 7), Oa(2001, 12, 23, 14, 5, 9), Oa(1899, 12, 29, 6, 0, 0),
                    Oa(100, 1, 1), Oa(9999, 12, 31, 23, 59, 59)}) {
    std::string t = vorta::ToText(Value::FromDate({oa}));
    double back = -1;
    ASSERT_TRUE(mdb::ParseOaDate(t, false, &back)) << t;
    EXPECT_EQ(back, oa) << t;
    EXPECT_EQ(vorta::ToDateTime(Value::FromText(t)).oa, oa);
  }
}

TEST(OaDate, BeforeTheEpochTheFractionCountsForward) {
  mdb::CivilTime t;
  ASSERT_TRUE(mdb::OaToCivil(-1.25, &t));
  EXPECT_EQ(t, (mdb::CivilTime{1899, 12, 29, 6, 0, 0}));
  EXPECT_DOUBLE_EQ(Oa(1899, 12, 29, 6, 0, 0), -1.25);
  // Rounding to the nearest second carries into the next day.
  ASSERT_TRUE(mdb::OaToCivil(Oa(2000, 2, 28) + 0.99999999, &t));
  EXPECT_EQ(t, (mdb::CivilTime{2000, 2, 29, 0, 0, 0}));
  EXPECT_FALSE(mdb::OaToCivil(1e12, &t));
  EXPECT_FALSE(mdb::OaToCivil(std::nan(""), &t));
}

// Every day of the supported years converts to the civil date that converts
// back to it, whole days and days with a time alike, with the days in
// order: a fault of the day arithmetic shows on some day of these 3.6
// million.
TEST(OaDate, EveryDayOfTheSupportedYearsRoundTrips) {
  mdb::CivilTime t, prev;
  const int64_t first = int64_t(Oa(100, 1, 1)), last = int64_t(Oa(9999, 12, 31));
  for (int64_t day = first; day <= last; ++day) {
    ASSERT_TRUE(mdb::OaToCivil(double(day), &t)) << day;
    ASSERT_EQ(mdb::CivilToOa(t), double(day)) << day;
    if (day > first) {
      bool next = (t.day == prev.day + 1 && t.month == prev.month && t.year == prev.year) ||
                  (t.day == 1 && (t.month == prev.month + 1 || (t.month == 1 && t.year == prev.year + 1)));
      ASSERT_TRUE(next) << day;
    }
    prev = t;
  }
  ASSERT_TRUE(mdb::OaToCivil(Oa(1961, 1, 1, 12, 30, 15), &t));
  EXPECT_EQ(t, (mdb::CivilTime{1961, 1, 1, 12, 30, 15}));
  EXPECT_FALSE(mdb::OaToCivil(double(first - 1), &t));
  EXPECT_FALSE(mdb::OaToCivil(double(last + 1), &t));
}

TEST(ValueFormat, IntegersAtEveryDigitCount) {
  auto put = [](int64_t v) {
    char buf[mdb::kIntRoom];
    return std::string(buf, mdb::PutInt(v, buf));
  };
  EXPECT_EQ(put(0), "0");
  EXPECT_EQ(put(7), "7");
  EXPECT_EQ(put(-7), "-7");
  EXPECT_EQ(put(10), "10");
  EXPECT_EQ(put(99), "99");
  EXPECT_EQ(put(100), "100");
  EXPECT_EQ(put(-1005), "-1005");
  EXPECT_EQ(put(43363), "43363");
  EXPECT_EQ(put(INT64_MAX), "9223372036854775807");
  EXPECT_EQ(put(INT64_MIN), "-9223372036854775808");
  for (int64_t v = 1; v < INT64_MAX / 10; v = v * 10 + 3) EXPECT_EQ(put(v), std::to_string(v));
}

TEST(OaDate, ParsesTheCommonForms) {
  double oa;
  ASSERT_TRUE(mdb::ParseOaDate("1980-1-1 0:0:0", false, &oa));
  EXPECT_EQ(oa, Oa(1980, 1, 1));
  ASSERT_TRUE(mdb::ParseOaDate(" 1990/5/7 ", false, &oa));
  EXPECT_EQ(oa, Oa(1990, 5, 7));
  ASSERT_TRUE(mdb::ParseOaDate("2001-12-23 2:05:09 PM", false, &oa));
  EXPECT_EQ(oa, Oa(2001, 12, 23, 14, 5, 9));
  ASSERT_TRUE(mdb::ParseOaDate("2001-12-23 14:05", false, &oa));
  EXPECT_EQ(oa, Oa(2001, 12, 23, 14, 5, 0));
  ASSERT_TRUE(mdb::ParseOaDate("5/7/1990", true, &oa));
  EXPECT_EQ(oa, Oa(1990, 5, 7));
  for (const char* bad : {"", "1990", "1990-13-01", "1990-02-30", "1990-5-7x", "1990-5-7 25:00",
                          "abc", "1990-5-7 12:60", "12:00", "5/7/1990", "1990-5-7 0:0:0 PM"})
    EXPECT_FALSE(mdb::ParseOaDate(bad, false, &oa)) << bad;
}

TEST(ToDateTime, OtherKindsAndFailures) {
  EXPECT_EQ(vorta::ToDateTime(Value::FromInt(2)).oa, 2.0);
  EXPECT_EQ(vorta::ToDateTime(Value::FromText("not a date")).oa, 0.0);
  EXPECT_EQ(vorta::ToDateTime(Value()).oa, 0.0);
}

TEST(DateParts, SixFieldsWithoutPadding) {
  rt::DateTime d{Oa(2001, 12, 23, 14, 5, 9)};
  EXPECT_EQ(vorta::DatePart(d, 'y'), 2001);
  EXPECT_EQ(vorta::DatePart(d, 'm'), 12);
  EXPECT_EQ(vorta::DatePart(d, 'd'), 23);
  EXPECT_EQ(vorta::DatePart(d, 'h'), 14);
  EXPECT_EQ(vorta::DatePart(d, 'n'), 5);
  EXPECT_EQ(vorta::DatePart(d, 's'), 9);
  EXPECT_EQ(vorta::DatePart(rt::DateTime{1e12}, 'y'), 0);
}

TEST(ToBinary, Kinds) {
  EXPECT_EQ(vorta::ToBinary(Value()), "");
  EXPECT_EQ(vorta::ToBinary(Value::FromBytes(std::string("\0\1\2", 3))), std::string("\0\1\2", 3));
  EXPECT_EQ(vorta::ToBinary(Value::FromInt(258)), std::string("\x02\x01\0\0", 4));
  EXPECT_EQ(vorta::ToBinary(Value::FromText("ab")), "ab");
  EXPECT_EQ(vorta::ToBinary(Value::FromFloat(1.0)).size(), 8u);
}

TEST(ReadFile, WholeFileOrEmpty) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / "usermgr-readfile";
  fs::create_directories(dir);
  // The name arrives in GB18030 (here GBK); on disk it is the platform's form of 照片.
  fs::path file = dir / u8"照片.bin";
  std::string content(300000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  std::ofstream(file, std::ios::binary).write(content.data(), content.size());
  std::string gbk_name = dir.string() + "/\xD5\xD5\xC6\xAC.bin";
  EXPECT_EQ(vorta::ReadFile(gbk_name), content);
  // A name outside GBK (Hangul, o with diaeresis) is read all the same.
  std::ofstream(dir / u"\uC0AC\uC9C4-\u00F6.bin", std::ios::binary).write(content.data(), 10);
  std::u8string dir8 = dir.u8string();
  rt::Text other = text::Utf8ToGb18030(std::string(dir8.begin(), dir8.end())) + "/" +
                   text::Utf16ToGb18030(u"\uC0AC\uC9C4-\u00F6.bin");
  EXPECT_EQ(vorta::ReadFile(other), content.substr(0, 10));
  EXPECT_EQ(vorta::ReadFile(dir.string() + "/missing.bin"), "");
  EXPECT_EQ(vorta::ReadFile(""), "");
  EXPECT_EQ(vorta::ReadFile(dir.string()), "");  // a folder is not readable as a file
  fs::remove_all(dir);
}

}  // namespace
