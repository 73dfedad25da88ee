// libFuzzer target for the SQL parser and expression evaluation: any input
// must give a statement or a clean error, never a crash, a hang or a leak.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mdb/collation.h"
#include "mdb/sql_eval.h"
#include "mdb/sql_parser.h"

namespace {

// Lenient UTF-8: a byte that starts no valid sequence stands for itself.
std::u16string Decode(const uint8_t* p, size_t n) {
  std::u16string out;
  for (size_t i = 0; i < n;) {
    uint32_t c = p[i];
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 0;
    if (len > 1 && i + len <= n) {
      c &= len == 2 ? 0x1F : 0x0F;
      for (size_t k = 1; k < len; ++k) c = (c << 6) | (p[i + k] & 0x3F);
      i += len;
    } else {
      ++i;
    }
    out.push_back(static_cast<char16_t>(c));
  }
  return out;
}

std::vector<mdb::Column> Columns() {
  using mdb::ColumnType;
  std::vector<mdb::Column> cols;
  auto add = [&cols](const char16_t* name, ColumnType type, uint16_t size) {
    mdb::Column c;
    c.name = name;
    c.type = type;
    c.size = size;
    cols.push_back(c);
  };
  add(u"ID", ColumnType::kLong, 4);
  add(u"姓名", ColumnType::kText, 100);
  add(u"性别", ColumnType::kBool, 1);
  add(u"个人简介", ColumnType::kMemo, 0);
  add(u"出生日期", ColumnType::kDateTime, 8);
  add(u"照片", ColumnType::kOle, 0);
  add(u"m", ColumnType::kMoney, 8);
  add(u"d", ColumnType::kDouble, 8);
  add(u"b", ColumnType::kByte, 1);
  return cols;
}

class FixedRow : public mdb::RowSource {
 public:
  mdb::Status Get(int column, mdb::Value* out) override {
    static const mdb::Value kRow[] = {
        mdb::Value(int64_t{-9223372036854775807LL - 1}), mdb::Value(std::u16string(u"O'Brien 张三")),
        mdb::Value(true), mdb::Value(), mdb::Value(mdb::Date{-1.25}), mdb::Value(mdb::Binary{"\x89PNG"}),
        mdb::Value(mdb::Money{-35000}), mdb::Value(1e308), mdb::Value(int64_t{255})};
    if (column < 0 || column >= static_cast<int>(sizeof kRow / sizeof kRow[0]))
      return mdb::Status::InvalidArgument("column");
    *out = kRow[column];
    return mdb::Status::OK();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Long enough for chains of thousands of operators (scripts/fuzz.sh runs
  // this on a 1 MB stack, the program's own).
  if (size > 65536) return 0;
  std::u16string sql = Decode(data, size);
  mdb::Statement st;
  if (!mdb::ParseStatement(sql, &st).ok()) return 0;

  static const std::vector<mdb::Column> columns = Columns();
  FixedRow row;
  mdb::Binary param{"bytes"};
  mdb::EvalContext ctx{&row, &param};
  auto run = [&](mdb::Expr* e) {
    if (!e || !mdb::BindExpr(e, st.table, columns).ok()) return;
    mdb::Value v;
    if (mdb::Eval(*e, &ctx, &v).ok()) {
      (void)mdb::OrderKey(v);
      (void)mdb::ValueToText(v);
      for (const auto& c : columns) {
        mdb::Value stored;
        (void)mdb::ConvertForColumn(c, v, &stored);
      }
    }
    bool keep = false;
    (void)mdb::EvalCondition(*e, &ctx, &keep);
  };
  run(st.where.get());
  for (auto& v : st.values) run(v.get());
  for (auto& o : st.order) run(o.expr.get());
  for (auto& i : st.items) run(i.expr.get());
  // The text itself as a LIKE pattern, against itself.
  (void)mdb::LikeMatch(sql, sql);
  (void)mdb::SortKey(sql);
  return 0;
}
