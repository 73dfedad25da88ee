// The database's floating point gives the same bits in every build (see
// tests/unit/float_test.cc): date arithmetic in statements, currency
// amounts from numbers, and dates written by a statement against the bounds
// of a "between" to the second.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "mdb/sql_eval.h"
#include "mdb/sql_parser.h"

namespace mdb {
namespace {

struct Hash {
  uint64_t h = 1469598103934665603ull;
  void Bytes(const void* p, size_t n) {
    for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<const unsigned char*>(p)[i]) * 1099511628211ull;
  }
};

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// The value of a constant expression, as a statement computes it.
Value EvalConstant(const std::string& expr) {
  Statement st;
  Value v;
  EXPECT_TRUE(ParseStatement(U16("select " + expr + " from t"), &st).ok()) << expr;
  if (st.items.empty() || !st.items[0].expr) return v;
  EXPECT_TRUE(BindExpr(st.items[0].expr.get(), u"t", {}).ok()) << expr;
  EvalContext ctx;
  EXPECT_TRUE(Eval(*st.items[0].expr, &ctx, &v).ok()) << expr;
  return v;
}

TEST(FloatingPoint, DateArithmetic) {
  Hash hash;
  for (int i = -300; i <= 300; ++i) {
    std::string n = std::to_string(i) + "/7";
    for (const char* d : {"#2001-12-23 14:05:09#", "#1899-12-29 6:00:00#", "#1985-6-15 23:59:59#"}) {
      Value v = EvalConstant(std::string(d) + " + " + n);
      ASSERT_TRUE(std::holds_alternative<Date>(v)) << d << " + " << n;
      hash.Bytes(&std::get<Date>(v).oa, sizeof(double));
    }
  }
  EXPECT_EQ(hash.h, 0x5cfe2c181eb08779ull) << std::hex << hash.h;
}

TEST(FloatingPoint, CurrencyFromNumbers) {
  Column money;
  money.type = ColumnType::kMoney;
  Hash hash;
  for (int i = -20000; i <= 20000; ++i) {
    for (double d : {i / 10000.0 + 0.00005, i * 0.0001, i * 1.0001 / 3}) {
      Value out;
      ASSERT_TRUE(ConvertForColumn(money, Value(d), &out).ok());
      hash.Bytes(&std::get<Money>(out).units, sizeof(int64_t));
    }
  }
  EXPECT_EQ(hash.h, 0xf674625f22c16253ull) << std::hex << hash.h;
}

// A date a statement writes, from a text with its time of day, lies within a
// "between" whose bounds are that very second, and outside one a second off.
TEST(FloatingPoint, DatesWrittenAgainstBoundsToTheSecond) {
  Column date;
  date.type = ColumnType::kDateTime;
  int wrong = 0;
  for (int s = 0; s < 86400; s += 13) {
    char t[32], before[32], after[32];
    std::snprintf(t, sizeof t, "2001-12-23 %d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
    std::snprintf(before, sizeof before, "2001-12-23 %d:%02d:%02d", (s - 1 + 86400) % 86400 / 3600,
                  (s - 1 + 86400) / 60 % 60, (s - 1 + 86400) % 60);
    std::snprintf(after, sizeof after, "2001-12-23 %d:%02d:%02d", (s + 1) % 86400 / 3600, (s + 1) / 60 % 60,
                  (s + 1) % 60);
    Value stored;
    ASSERT_TRUE(ConvertForColumn(date, Value(U16(t)), &stored).ok()) << t;
    Statement st;
    ASSERT_TRUE(ParseStatement(U16(std::string("select * from t where d between #") + t + "# and #" + t + "#"), &st)
                    .ok());
    std::vector<Column> cols(1);
    cols[0].name = u"d";
    cols[0].type = ColumnType::kDateTime;
    ASSERT_TRUE(BindExpr(st.where.get(), u"t", cols).ok());
    struct One : RowSource {
      Value v;
      Status Get(int, Value* out) override { *out = v; return Status::OK(); }
    } row;
    row.v = stored;
    EvalContext ctx;
    ctx.row = &row;
    bool in = false;
    ASSERT_TRUE(EvalCondition(*st.where, &ctx, &in).ok());
    if (!in) ++wrong;
    if (s == 0 || s == 86399) continue;  // the neighbours are on other days
    Statement off;
    ASSERT_TRUE(ParseStatement(U16(std::string("select * from t where d between #") + before + "# and #" + before +
                                   "# or d between #" + after + "# and #" + after + "#"),
                               &off)
                    .ok());
    ASSERT_TRUE(BindExpr(off.where.get(), u"t", cols).ok());
    ASSERT_TRUE(EvalCondition(*off.where, &ctx, &in).ok());
    if (in) ++wrong;
  }
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace mdb
