// Dates as statements write them: the text forms read, and ordering to the
// second on both sides of the base day.
#include <gtest/gtest.h>

#include "mdb/sql_date.h"

namespace mdb {
namespace {

TEST(SqlDate, TextForms) {
  double oa = 0;
  ASSERT_TRUE(ParseDateText(u"1990-05-07", false, &oa));
  EXPECT_EQ(oa, 33000.0);
  ASSERT_TRUE(ParseDateText(u"1990/5/7", false, &oa));
  EXPECT_EQ(oa, 33000.0);
  ASSERT_TRUE(ParseDateText(u"1990-5-7 0:0:0", false, &oa));
  EXPECT_EQ(oa, 33000.0);
  ASSERT_TRUE(ParseDateText(u"5/7/1990", true, &oa));
  EXPECT_EQ(oa, 33000.0);
  ASSERT_TRUE(ParseDateText(u"2001-12-23 14:05:09", false, &oa));
  EXPECT_EQ(OaToSeconds(oa) % 86400, 14 * 3600 + 5 * 60 + 9);
  ASSERT_TRUE(ParseDateText(u"2001-12-23 14:5:9", false, &oa));
  EXPECT_EQ(OaToSeconds(oa) % 86400, 14 * 3600 + 5 * 60 + 9);
  ASSERT_TRUE(ParseDateText(u"14:05:09", false, &oa));
  EXPECT_EQ(OaToSeconds(oa), 14 * 3600 + 5 * 60 + 9);
  for (const char16_t* bad : {u"", u"abc", u"1990-13-01", u"1990-02-30", u"1990-1-1 24:00:00", u"１９９０-1-1",
                              u"1990-1-1x", u"2001-12-23 14:05:60"})
    EXPECT_FALSE(ParseDateText(bad, true, &oa));
}

TEST(SqlDate, SecondsOrderDatesBeforeAndAfterTheBaseDay) {
  // 1899-12-29 06:00 is -1.25: a quarter day forward from day -1.
  EXPECT_LT(OaToSeconds(-1.25), OaToSeconds(-1.0) + 86400);
  EXPECT_GT(OaToSeconds(-1.25), OaToSeconds(-1.0));
  EXPECT_EQ(OaToSeconds(1.5), 86400 + 43200);
}

}  // namespace
}  // namespace mdb
