// The small pieces the statements are made of, without a database.
#include <gtest/gtest.h>

#include "accounts/handlers.h"
#include "app/globals.h"
#include "data/fields.h"
#include "data/oplog.h"
#include "data/sql_text.h"
#include "tests/workflow/headless_runtime.h"

namespace {

TEST(SqlText, QuotedDoublesEveryApostropheAndNothingElse) {
  EXPECT_EQ(data::Quoted("O'Brien"), "O''Brien");
  EXPECT_EQ(data::Quoted("''"), "''''");
  EXPECT_EQ(data::Quoted(""), "");
  // Wildcards stay wildcards; blanks are kept; GBK text is untouched.
  EXPECT_EQ(data::Quoted(" 张%_三 "), " 张%_三 ");
  EXPECT_EQ(data::Quoted("行一\r\n行二'"), "行一\r\n行二''");
}

TEST(SqlText, SexWordIsTrueOnlyForTheWholeTextMale) {
  EXPECT_STREQ(data::SexWord("男"), "true");
  EXPECT_STREQ(data::SexWord("女"), "false");
  EXPECT_STREQ(data::SexWord(""), "false");
  EXPECT_STREQ(data::SexWord("男 "), "false");
  EXPECT_STREQ(data::SexWord("男人"), "false");
}

TEST(Fields, RowValueTakesLow32BitsAndCutsTowardZero) {
  int32_t id = 0;
  ASSERT_TRUE(data::AsRowValue(rt::Value::FromInt(7), &id));
  EXPECT_EQ(id, 7);
  ASSERT_TRUE(data::AsRowValue(rt::Value::FromInt(0x100000005LL), &id));
  EXPECT_EQ(id, 5);
  ASSERT_TRUE(data::AsRowValue(rt::Value::FromInt(0xFFFFFFFFLL), &id));
  EXPECT_EQ(id, -1);
  ASSERT_TRUE(data::AsRowValue(rt::Value::FromFloat(12.9), &id));
  EXPECT_EQ(id, 12);
  ASSERT_TRUE(data::AsRowValue(rt::Value::FromFloat(-12.9), &id));
  EXPECT_EQ(id, -12);
  EXPECT_FALSE(data::AsRowValue(rt::Value::FromFloat(1e300), &id));
  EXPECT_FALSE(data::AsRowValue(rt::Value::FromText("7"), &id));
  EXPECT_FALSE(data::AsRowValue(rt::Value(), &id));
}

TEST(Fields, TextAndYesNoRefuseOtherKinds) {
  rt::Text t = "old";
  ASSERT_TRUE(data::AsText(rt::Value(), &t));
  EXPECT_EQ(t, "");
  EXPECT_FALSE(data::AsText(rt::Value::FromInt(3), &t));
  bool b = false;
  ASSERT_TRUE(data::AsYesNo(rt::Value::FromBool(true), &b));
  EXPECT_TRUE(b);
  ASSERT_TRUE(data::AsYesNo(rt::Value::FromInt(0), &b));
  EXPECT_FALSE(b);
  EXPECT_FALSE(data::AsYesNo(rt::Value::FromText("真"), &b));
  EXPECT_FALSE(data::AsYesNo(rt::Value(), &b));
}

TEST(OperationLog, StatementCarriesTheOperatorBareAndTheEventQuoted) {
  app::CurrentUserId = "3";
  EXPECT_EQ(data::LogStatement(data::kEventAdd),
            "insert into [操作日志] ([用户ID],[操作时间],[事件说明]) values (3,now(),'添加人员')");
  EXPECT_EQ(data::LogStatement(data::kEventStatistics),
            "insert into [操作日志] ([用户ID],[操作时间],[事件说明]) values (3,now(),'统计人员')");
  app::CurrentUserId.clear();
}

TEST(FormatQueryDate, NoLeadingZerosAndTheTimeOfDay) {
  headless::HeadlessRuntime runtime(app::ProgramImage());
  EXPECT_EQ(accounts::FormatQueryDate(headless::Day(1990, 5, 7)), "1990-5-7 0:0:0");
  EXPECT_EQ(accounts::FormatQueryDate(headless::At(2001, 12, 23, 14, 5, 9)), "2001-12-23 14:5:9");
  EXPECT_EQ(accounts::FormatQueryDate(headless::At(1980, 1, 1, 23, 59, 59)), "1980-1-1 23:59:59");
}

}  // namespace
