#include "mdb/sql_eval.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "mdb/collation.h"
#include "mdb/index_key.h"
#include "mdb/sql_date.h"
#include "mdb/sql_text.h"

namespace mdb {

namespace {

enum class Cat { kNull, kBool, kNum, kDate, kText, kBin, kGuid };

Cat CatOf(const Value& v) {
  switch (v.index()) {
    case 0: return Cat::kNull;
    case 1: return Cat::kBool;
    case 2: case 3: case 4: case 9: return Cat::kNum;
    case 5: return Cat::kDate;
    case 6: return Cat::kText;
    case 7: return Cat::kBin;
    default: return Cat::kGuid;
  }
}

double DecimalToDouble(const Decimal& d) {
  long double m = static_cast<long double>(d.hi) * 18446744073709551616.0L +
                  static_cast<long double>(d.mid) * 4294967296.0L + d.lo;
  for (int i = 0; i < d.scale; ++i) m /= 10;
  return static_cast<double>(d.negative ? -m : m);
}

Status Mismatch(const std::string& what) {
  return Status::InvalidArgument("data type mismatch: " + what);
}

std::string Quote(const Value& v) {
  std::string out = "'";
  out += SqlUtf8(ValueToText(v));
  out += '\'';
  return out;
}

std::u16string Trim(std::u16string_view s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == u' ' || s[a] == u'\t')) ++a;
  while (b > a && (s[b - 1] == u' ' || s[b - 1] == u'\t')) --b;
  return std::u16string(s.substr(a, b - a));
}

// A number written as text: integer or decimal, optional sign and exponent.
bool TextToNumber(std::u16string_view text, Value* out) {
  std::u16string t = Trim(text);
  if (t.empty()) return false;
  std::string a;
  for (char16_t c : t) {
    if (c > 0x7F) return false;
    a.push_back(static_cast<char>(c));
  }
  bool integral = a.find_first_of(".eE") == std::string::npos;
  char* end = nullptr;
  errno = 0;
  if (integral) {
    long long v = std::strtoll(a.c_str(), &end, 10);
    if (*end == 0 && errno == 0 && end != a.c_str()) {
      *out = static_cast<int64_t>(v);
      return true;
    }
  }
  end = nullptr;
  double d = std::strtod(a.c_str(), &end);
  if (end == a.c_str() || *end != 0 || !std::isfinite(d)) return false;
  if (a.find_first_of("xXnN") != std::string::npos) return false;  // hex, nan, inf
  *out = d;
  return true;
}

bool TextToBool(std::u16string_view text, bool* out) {
  std::u16string t = Trim(text);
  for (const char16_t* w : {u"true", u"yes", u"on", u"-1", u"1"})
    if (TextEquals(t, w)) return *out = true, true;
  for (const char16_t* w : {u"false", u"no", u"off", u"0"})
    if (TextEquals(t, w)) return *out = false, true;
  return false;
}

std::u16string GuidToText(const Guid& g) {
  char buf[40];
  const uint8_t* b = g.bytes;
  std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  std::u16string out;
  for (const char* p = buf; *p; ++p) out.push_back(static_cast<char16_t>(*p));
  return out;
}

bool TextToGuid(std::u16string_view text, Guid* g) {
  std::u16string t = Trim(text);
  std::string hex;
  for (char16_t c : t) {
    if (c == u'{' || c == u'}' || c == u'-') continue;
    if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'))) return false;
    hex.push_back(static_cast<char>(c));
  }
  if (hex.size() != 32) return false;
  uint8_t raw[16];
  for (int i = 0; i < 16; ++i) raw[i] = static_cast<uint8_t>(std::strtoul(hex.substr(i * 2, 2).c_str(), nullptr, 16));
  static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) g->bytes[i] = raw[kOrder[i]];
  return true;
}

bool IsIntegral(const Value& v) { return v.index() == 1 || v.index() == 2; }
int64_t AsInt(const Value& v) {
  if (v.index() == 1) return std::get<bool>(v) ? -1 : 0;
  return std::get<int64_t>(v);
}

double SecondsOf(const Value& v) { return static_cast<double>(OaToSeconds(std::get<Date>(v).oa)); }

// Whole days on a straight line, for date arithmetic.
double LinearDays(double oa) { return OaToSeconds(oa) / 86400.0; }
double FromLinear(double x) {
  double days = std::floor(x);
  double frac = x - days;
  return days >= 0 ? days + frac : days - frac;
}

int Sign(double d) { return d < 0 ? -1 : (d > 0 ? 1 : 0); }

// a and b are both non-null. Texts by `order` (null: the fallback collation).
Status CompareValues(const Value& a, const Value& b, const SortOrder* order, int* cmp) {
  Cat ca = CatOf(a), cb = CatOf(b);
  if (ca == Cat::kText && cb == Cat::kText) {
    const auto& x = std::get<std::u16string>(a);
    const auto& y = std::get<std::u16string>(b);
    if (order) *cmp = CompareByKeys(x, y, *order);
    else *cmp = CompareText(x, y);
    return Status::OK();
  }
  if ((ca == Cat::kNum || ca == Cat::kBool) && (cb == Cat::kNum || cb == Cat::kBool)) {
    if (IsIntegral(a) && IsIntegral(b)) {
      int64_t x = AsInt(a), y = AsInt(b);
      *cmp = x < y ? -1 : (x > y ? 1 : 0);
    } else {
      *cmp = Sign(ValueToDouble(a) - ValueToDouble(b));
    }
    return Status::OK();
  }
  if (ca == Cat::kDate && cb == Cat::kDate) {
    *cmp = Sign(SecondsOf(a) - SecondsOf(b));
    return Status::OK();
  }
  if ((ca == Cat::kDate && cb == Cat::kNum) || (ca == Cat::kNum && cb == Cat::kDate)) {
    *cmp = Sign(ValueToDouble(a) - ValueToDouble(b));
    return Status::OK();
  }
  if (ca == Cat::kText && cb != Cat::kText) {
    int r = 0;
    MDB_RETURN_IF_ERROR(CompareValues(b, a, order, &r));
    *cmp = -r;
    return Status::OK();
  }
  if (cb == Cat::kText) {
    const std::u16string& t = std::get<std::u16string>(b);
    Value conv;
    if (ca == Cat::kDate) {
      double oa = 0;
      if (!ParseDateText(t, true, &oa)) return Mismatch(Quote(b) + " is not a date");
      conv = Date{oa};
    } else if (ca == Cat::kNum) {
      if (!TextToNumber(t, &conv)) return Mismatch(Quote(b) + " is not a number");
    } else if (ca == Cat::kBool) {
      bool bv = false;
      if (!TextToBool(t, &bv)) return Mismatch(Quote(b) + " is not yes or no");
      conv = bv;
    } else if (ca == Cat::kGuid) {
      *cmp = CompareText(GuidToText(std::get<Guid>(a)), t);
      return Status::OK();
    } else {
      return Mismatch("a byte block compared with a text");
    }
    return CompareValues(a, conv, order, cmp);
  }
  if (ca == Cat::kBin && cb == Cat::kBin) {
    int r = std::get<Binary>(a).bytes.compare(std::get<Binary>(b).bytes);
    *cmp = Sign(r);
    return Status::OK();
  }
  if (ca == Cat::kGuid && cb == Cat::kGuid) {
    *cmp = Sign(std::memcmp(std::get<Guid>(a).bytes, std::get<Guid>(b).bytes, 16));
    return Status::OK();
  }
  return Mismatch("values of different kinds compared");
}

// Truth of a value; *is_null for NULL.
Status Truth(const Value& v, bool* out, bool* is_null) {
  *is_null = false;
  switch (CatOf(v)) {
    case Cat::kNull: *is_null = true; *out = false; return Status::OK();
    case Cat::kBool: *out = std::get<bool>(v); return Status::OK();
    case Cat::kNum: *out = ValueToDouble(v) != 0; return Status::OK();
    case Cat::kText: {
      bool b = false;
      if (TextToBool(std::get<std::u16string>(v), &b)) {
        *out = b;
        return Status::OK();
      }
      return Mismatch(Quote(v) + " used as a condition");
    }
    default: return Mismatch("a value used as a condition");
  }
}

// A value as a number for arithmetic; texts that hold a number count.
Status ToNumber(const Value& v, Value* out) {
  switch (CatOf(v)) {
    case Cat::kBool: *out = static_cast<int64_t>(std::get<bool>(v) ? -1 : 0); return Status::OK();
    case Cat::kNum:
      if (v.index() == 2 || v.index() == 3) *out = v;
      else *out = ValueToDouble(v);
      return Status::OK();
    case Cat::kDate: *out = std::get<Date>(v).oa; return Status::OK();
    case Cat::kText:
      if (TextToNumber(std::get<std::u16string>(v), out)) return Status::OK();
      return Mismatch(Quote(v) + " is not a number");
    default: return Mismatch("a value that is no number in arithmetic");
  }
}

Status Arith(Op op, const Value& a, const Value& b, Value* out) {
  Cat ca = CatOf(a), cb = CatOf(b);
  if (ca == Cat::kNull || cb == Cat::kNull) {
    *out = Value();
    return Status::OK();
  }
  if (op == Op::kAdd && ca == Cat::kText && cb == Cat::kText) {
    *out = std::get<std::u16string>(a) + std::get<std::u16string>(b);
    return Status::OK();
  }
  // Date arithmetic.
  if ((op == Op::kAdd || op == Op::kSub) && (ca == Cat::kDate || cb == Cat::kDate)) {
    if (op == Op::kSub && ca == Cat::kDate && cb == Cat::kDate) {
      *out = LinearDays(std::get<Date>(a).oa) - LinearDays(std::get<Date>(b).oa);
      return Status::OK();
    }
    const Value& d = ca == Cat::kDate ? a : b;
    const Value& n = ca == Cat::kDate ? b : a;
    if (op == Op::kSub && cb == Cat::kDate) return Mismatch("a date subtracted from a number");
    Value num;
    MDB_RETURN_IF_ERROR(ToNumber(n, &num));
    double delta = ValueToDouble(num) * (op == Op::kSub ? -1 : 1);
    *out = Date{FromLinear(LinearDays(std::get<Date>(d).oa) + delta)};
    return Status::OK();
  }
  Value x, y;
  MDB_RETURN_IF_ERROR(ToNumber(a, &x));
  MDB_RETURN_IF_ERROR(ToNumber(b, &y));
  bool ints = x.index() == 2 && y.index() == 2;
  if (op == Op::kIntDiv || op == Op::kMod) {
    double dx = std::nearbyint(ValueToDouble(x)), dy = std::nearbyint(ValueToDouble(y));
    if (dy == 0) return Status::InvalidArgument("division by zero");
    if (std::fabs(dx) > 9e18 || std::fabs(dy) > 9e18) return Status::InvalidArgument("overflow");
    int64_t ix = static_cast<int64_t>(dx), iy = static_cast<int64_t>(dy);
    if (iy == -1) {  // avoids INT64_MIN / -1
      *out = op == Op::kIntDiv ? static_cast<int64_t>(0) - ix : static_cast<int64_t>(0);
      if (op == Op::kIntDiv && ix == std::numeric_limits<int64_t>::min()) *out = -static_cast<double>(ix);
      return Status::OK();
    }
    *out = op == Op::kIntDiv ? ix / iy : ix % iy;
    return Status::OK();
  }
  if (ints && op != Op::kDiv && op != Op::kPow) {
    int64_t ix = std::get<int64_t>(x), iy = std::get<int64_t>(y), r = 0;
    bool overflow = false;
    switch (op) {
      case Op::kAdd: overflow = __builtin_add_overflow(ix, iy, &r); break;
      case Op::kSub: overflow = __builtin_sub_overflow(ix, iy, &r); break;
      case Op::kMul: overflow = __builtin_mul_overflow(ix, iy, &r); break;
      default: break;
    }
    if (!overflow) {
      *out = r;
      return Status::OK();
    }
  }
  double dx = ValueToDouble(x), dy = ValueToDouble(y), r = 0;
  switch (op) {
    case Op::kAdd: r = dx + dy; break;
    case Op::kSub: r = dx - dy; break;
    case Op::kMul: r = dx * dy; break;
    case Op::kDiv:
      if (dy == 0) return Status::InvalidArgument("division by zero");
      r = dx / dy;
      break;
    case Op::kPow: r = std::pow(dx, dy); break;
    default: break;
  }
  if (!std::isfinite(r)) return Status::InvalidArgument("overflow");
  *out = r;
  return Status::OK();
}

bool IsComparison(Op op) { return op <= Op::kGe; }

// A constant compared with a column takes the column's kind.
Status CoerceLiteral(const Column& col, Expr* lit) {
  if (lit->kind != ExprKind::kLiteral || IsNull(lit->value)) return Status::OK();
  Value& v = lit->value;
  Cat c = CatOf(v);
  std::string where = " for column [" + SqlUtf8(col.name) + "]";
  switch (col.type) {
    case ColumnType::kDateTime:
      if (c == Cat::kText) {
        double oa = 0;
        if (!ParseDateText(std::get<std::u16string>(v), true, &oa))
          return Mismatch(Quote(v) + " is not a date" + where);
        v = Date{oa};
      }
      return Status::OK();
    case ColumnType::kBool:
      if (c == Cat::kText) {
        bool b = false;
        if (!TextToBool(std::get<std::u16string>(v), &b)) return Mismatch(Quote(v) + " is not yes or no" + where);
        v = b;
      }
      return Status::OK();
    case ColumnType::kByte: case ColumnType::kInt: case ColumnType::kLong: case ColumnType::kMoney:
    case ColumnType::kFloat: case ColumnType::kDouble: case ColumnType::kNumeric:
      if (c == Cat::kText) {
        Value n;
        if (!TextToNumber(std::get<std::u16string>(v), &n)) return Mismatch(Quote(v) + " is not a number" + where);
        v = n;
      }
      return Status::OK();
    case ColumnType::kText: case ColumnType::kMemo:
      if (c != Cat::kText) return Mismatch(SqlUtf8(ValueToText(v)) + " is not a text" + where);
      return Status::OK();
    default:
      return Status::OK();
  }
}

}  // namespace

double ValueToDouble(const Value& v) {
  switch (v.index()) {
    case 1: return std::get<bool>(v) ? -1 : 0;
    case 2: return static_cast<double>(std::get<int64_t>(v));
    case 3: return std::get<double>(v);
    case 4: return std::get<Money>(v).units / 10000.0;
    case 5: return std::get<Date>(v).oa;
    case 9: return DecimalToDouble(std::get<Decimal>(v));
    default: return 0;
  }
}

std::u16string ValueToText(const Value& v) {
  std::string a;
  char buf[64];
  switch (v.index()) {
    case 0: return u"";
    case 1: a = std::get<bool>(v) ? "True" : "False"; break;
    case 2: a = std::to_string(std::get<int64_t>(v)); break;
    case 3: case 4: case 9: {
      double d = ValueToDouble(v);
      std::snprintf(buf, sizeof buf, "%.15g", d);
      a = buf;
      break;
    }
    case 5: a = FormatOaDate(std::get<Date>(v).oa); break;
    case 6: return std::get<std::u16string>(v);
    case 7: a = "(" + std::to_string(std::get<Binary>(v).bytes.size()) + " bytes)"; break;
    case 8: return GuidToText(std::get<Guid>(v));
  }
  return std::u16string(a.begin(), a.end());
}

Status BindExpr(Expr* e, const std::u16string& table, const std::vector<Column>& columns) {
  for (auto& arg : e->args) MDB_RETURN_IF_ERROR(BindExpr(arg.get(), table, columns));
  switch (e->kind) {
    case ExprKind::kColumn: {
      if (!e->qualifier.empty() && !TextEquals(e->qualifier, table))
        return Status::NotFound("unknown table [" + SqlUtf8(e->qualifier) + "]");
      for (size_t i = 0; i < columns.size(); ++i) {
        if (TextEquals(columns[i].name, e->name)) {
          e->column = static_cast<int>(i);
          return Status::OK();
        }
      }
      return Status::NotFound("no column [" + SqlUtf8(e->name) + "] in table [" + SqlUtf8(table) + "]");
    }
    case ExprKind::kCall: {
      bool known = TextEquals(e->name, u"now") || TextEquals(e->name, u"date") || TextEquals(e->name, u"time");
      if (!known) return Status::NotSupported("unknown function " + SqlUtf8(e->name) + "()");
      if (!e->args.empty()) return Status::InvalidArgument(SqlUtf8(e->name) + "() takes no arguments");
      return Status::OK();
    }
    case ExprKind::kUnary: {
      // A negative number is a literal: it is compared once per row, and
      // "[ID]=-1" may then use an index.
      const Expr& arg = *e->args[0];
      if (e->op != Op::kNeg || arg.kind != ExprKind::kLiteral || arg.date_literal ||
          (arg.value.index() != 2 && arg.value.index() != 3))
        return Status::OK();
      Value v;
      if (!Arith(Op::kSub, static_cast<int64_t>(0), arg.value, &v).ok()) return Status::OK();
      e->kind = ExprKind::kLiteral;
      e->value = std::move(v);
      e->args.clear();
      return Status::OK();
    }
    case ExprKind::kBinary: {
      // Only the chain's first comparison has two operands of its own; later
      // ones compare the result so far.
      if (IsComparison(e->ops[0])) {
        Expr* a = e->args[0].get();
        Expr* b = e->args[1].get();
        if (a->kind == ExprKind::kColumn) MDB_RETURN_IF_ERROR(CoerceLiteral(columns[a->column], b));
        if (b->kind == ExprKind::kColumn) MDB_RETURN_IF_ERROR(CoerceLiteral(columns[b->column], a));
      }
      // A condition on literals alone ("1=0", "1=1 AND 2>1") is worked out
      // once here, not once per row. Texts are left alone (they compare by
      // the table's sort order), and so is anything that fails (it fails on
      // the first row, as before) or that is not yes, no or null (a number
      // would be read as the kind of a column it is compared with).
      for (const auto& arg : e->args)
        if (arg->kind != ExprKind::kLiteral || arg->value.index() == 6) return Status::OK();
      EvalContext none{nullptr, nullptr, nullptr};
      Value v;
      if (!Eval(*e, &none, &v).ok() || (v.index() != 0 && v.index() != 1)) return Status::OK();
      e->kind = ExprKind::kLiteral;
      e->value = std::move(v);
      e->ops.clear();
      e->args.clear();
      return Status::OK();
    }
    case ExprKind::kBetween:
    case ExprKind::kIn:
      if (e->args[0]->kind == ExprKind::kColumn) {
        const Column& col = columns[e->args[0]->column];
        for (size_t i = 1; i < e->args.size(); ++i) MDB_RETURN_IF_ERROR(CoerceLiteral(col, e->args[i].get()));
      }
      return Status::OK();
    default:
      return Status::OK();
  }
}

namespace {

// An operand's value; a literal's or a column's is not copied (conditions
// run once per row of a scan).
Status Operand(const Expr& e, EvalContext* ctx, Value* scratch, const Value** out) {
  if (e.kind == ExprKind::kLiteral) {
    *out = &e.value;
    return Status::OK();
  }
  if (e.kind == ExprKind::kColumn && ctx->row != nullptr) return ctx->row->Peek(e.column, scratch, out);
  *out = scratch;
  return Eval(e, ctx, scratch);
}

// A text operand as a view, converted into *scratch when it is no text.
std::u16string_view TextOf(const Value& v, std::u16string* scratch) {
  if (v.index() == 6) return std::get<std::u16string>(v);
  *scratch = ValueToText(v);
  return *scratch;
}

// a op b, neither AND nor OR.
Status Apply(Op op, const Value& a, const Value& b, const SortOrder* order, Value* out) {
  if (op == Op::kConcat) {
    if (IsNull(a) && IsNull(b)) *out = Value();
    else *out = ValueToText(a) + ValueToText(b);
    return Status::OK();
  }
  if (IsComparison(op)) {
    if (IsNull(a) || IsNull(b)) {
      *out = Value();
      return Status::OK();
    }
    int c = 0;
    MDB_RETURN_IF_ERROR(CompareValues(a, b, order, &c));
    bool r = false;
    switch (op) {
      case Op::kEq: r = c == 0; break;
      case Op::kNe: r = c != 0; break;
      case Op::kLt: r = c < 0; break;
      case Op::kGt: r = c > 0; break;
      case Op::kLe: r = c <= 0; break;
      default: r = c >= 0; break;
    }
    *out = r;
    return Status::OK();
  }
  return Arith(op, a, b, out);
}

// A chain of one precedence, left to right, in a loop: its length costs no
// stack. AND and OR stop at the first operand that decides the result.
Status EvalChain(const Expr& e, EvalContext* ctx, Value* out) {
  if (e.ops[0] == Op::kAnd || e.ops[0] == Op::kOr) {
    const bool is_or = e.ops[0] == Op::kOr;
    bool saw_null = false;
    for (const auto& arg : e.args) {
      Value scratch;
      const Value* v;
      bool t = false, n = false;
      MDB_RETURN_IF_ERROR(Operand(*arg, ctx, &scratch, &v));
      MDB_RETURN_IF_ERROR(Truth(*v, &t, &n));
      if (!n && t == is_or) {
        *out = t;
        return Status::OK();
      }
      saw_null = saw_null || n;
    }
    *out = saw_null ? Value() : Value(!is_or);
    return Status::OK();
  }
  Value first, result;
  const Value* acc;  // the result so far: the first operand, then result
  MDB_RETURN_IF_ERROR(Operand(*e.args[0], ctx, &first, &acc));
  for (size_t i = 0; i < e.ops.size(); ++i) {
    Value scratch, next;
    const Value* rhs;
    MDB_RETURN_IF_ERROR(Operand(*e.args[i + 1], ctx, &scratch, &rhs));
    // A text grows in place: a long & chain costs its length, not its square.
    if (e.ops[i] == Op::kConcat && acc == &result && std::holds_alternative<std::u16string>(result)) {
      std::get<std::u16string>(result) += ValueToText(*rhs);
      continue;
    }
    MDB_RETURN_IF_ERROR(Apply(e.ops[i], *acc, *rhs, ctx->text_order, &next));
    result = std::move(next);
    acc = &result;
  }
  *out = acc == &result ? std::move(result) : *acc;
  return Status::OK();
}

}  // namespace

Status Eval(const Expr& e, EvalContext* ctx, Value* out) {
  switch (e.kind) {
    case ExprKind::kLiteral:
      *out = e.value;
      return Status::OK();
    case ExprKind::kColumn:
      if (ctx->row == nullptr)
        return Status::InvalidArgument("column [" + SqlUtf8(e.name) + "] cannot be used here");
      return ctx->row->Get(e.column, out);
    case ExprKind::kParam:
      if (ctx->param == nullptr) return Status::InvalidArgument("no value was given for the '?' parameter");
      *out = *ctx->param;
      return Status::OK();
    case ExprKind::kCall:
      if (TextEquals(e.name, u"now")) *out = Date{NowOa()};
      else if (TextEquals(e.name, u"date")) *out = Date{TodayOa()};
      else {
        double now = NowOa();
        *out = Date{std::fabs(now - std::trunc(now))};
      }
      return Status::OK();
    case ExprKind::kUnary: {
      Value v;
      MDB_RETURN_IF_ERROR(Eval(*e.args[0], ctx, &v));
      if (IsNull(v)) {
        *out = Value();
        return Status::OK();
      }
      if (e.op == Op::kNot) {
        bool t = false, n = false;
        MDB_RETURN_IF_ERROR(Truth(v, &t, &n));
        *out = !t;
        return Status::OK();
      }
      return Arith(Op::kSub, static_cast<int64_t>(0), v, out);
    }
    case ExprKind::kBinary:
      return EvalChain(e, ctx, out);
    case ExprKind::kLike: {
      Value sa, sp;
      const Value *pa, *pp;
      MDB_RETURN_IF_ERROR(Operand(*e.args[0], ctx, &sa, &pa));
      MDB_RETURN_IF_ERROR(Operand(*e.args[1], ctx, &sp, &pp));
      const Value &a = *pa, &p = *pp;
      if (IsNull(a) || IsNull(p)) {
        *out = Value();
        return Status::OK();
      }
      if (CatOf(a) == Cat::kBin || CatOf(p) == Cat::kBin) return Mismatch("LIKE on a byte block");
      std::u16string ta, tp;
      *out = LikeMatch(TextOf(a, &ta), TextOf(p, &tp)) != e.negate;
      return Status::OK();
    }
    case ExprKind::kBetween: {
      Value sx, slo, shi;
      const Value *px, *plo, *phi;
      MDB_RETURN_IF_ERROR(Operand(*e.args[0], ctx, &sx, &px));
      MDB_RETURN_IF_ERROR(Operand(*e.args[1], ctx, &slo, &plo));
      MDB_RETURN_IF_ERROR(Operand(*e.args[2], ctx, &shi, &phi));
      const Value &x = *px, &lo = *plo, &hi = *phi;
      if (IsNull(x) || IsNull(lo) || IsNull(hi)) {
        *out = Value();
        return Status::OK();
      }
      int c1 = 0, c2 = 0;
      MDB_RETURN_IF_ERROR(CompareValues(x, lo, ctx->text_order, &c1));
      MDB_RETURN_IF_ERROR(CompareValues(x, hi, ctx->text_order, &c2));
      *out = (c1 >= 0 && c2 <= 0) != e.negate;
      return Status::OK();
    }
    case ExprKind::kIn: {
      Value sx;
      const Value* px;
      MDB_RETURN_IF_ERROR(Operand(*e.args[0], ctx, &sx, &px));
      const Value& x = *px;
      if (IsNull(x)) {
        *out = Value();
        return Status::OK();
      }
      bool saw_null = false;
      for (size_t i = 1; i < e.args.size(); ++i) {
        Value si;
        const Value* pi;
        MDB_RETURN_IF_ERROR(Operand(*e.args[i], ctx, &si, &pi));
        const Value& item = *pi;
        if (IsNull(item)) {
          saw_null = true;
          continue;
        }
        int c = 0;
        MDB_RETURN_IF_ERROR(CompareValues(x, item, ctx->text_order, &c));
        if (c == 0) {
          *out = !e.negate;
          return Status::OK();
        }
      }
      if (saw_null) *out = Value();
      else *out = e.negate;
      return Status::OK();
    }
    case ExprKind::kIsNull: {
      Value sx;
      const Value* px;
      MDB_RETURN_IF_ERROR(Operand(*e.args[0], ctx, &sx, &px));
      *out = IsNull(*px) != e.negate;
      return Status::OK();
    }
  }
  return Status::InvalidArgument("unknown expression");
}

Status EvalCondition(const Expr& e, EvalContext* ctx, bool* out) {
  bool is_null = false;
  // A literal (a condition worked out when it was bound) is not copied.
  if (e.kind == ExprKind::kLiteral) {
    MDB_RETURN_IF_ERROR(Truth(e.value, out, &is_null));
    if (is_null) *out = false;
    return Status::OK();
  }
  Value v;
  MDB_RETURN_IF_ERROR(Eval(e, ctx, &v));
  MDB_RETURN_IF_ERROR(Truth(v, out, &is_null));
  if (is_null) *out = false;
  return Status::OK();
}

Status ConvertForColumn(const Column& col, Value in, Value* out) {
  if (IsNull(in)) {
    *out = Value();
    return Status::OK();
  }
  const std::string name = "[" + SqlUtf8(col.name) + "]";
  Cat c = CatOf(in);
  auto mismatch = [&](const char* kind) { return Mismatch(Quote(in) + " is not " + kind + " for column " + name); };
  auto overflow = [&]() { return Status::InvalidArgument(SqlUtf8(ValueToText(in)) + " is out of range for column " + name); };
  switch (col.type) {
    case ColumnType::kText:
    case ColumnType::kMemo: {
      if (c == Cat::kBin) return mismatch("a text");
      std::u16string t = c == Cat::kText ? std::move(std::get<std::u16string>(in)) : ValueToText(in);
      if (col.type == ColumnType::kText && col.size > 0 && t.size() > col.size / 2u)
        return Status::InvalidArgument("text too long for column " + name + " (at most " +
                                       std::to_string(col.size / 2) + " characters)");
      *out = std::move(t);
      return Status::OK();
    }
    case ColumnType::kBool: {
      if (c == Cat::kBool) { *out = in; return Status::OK(); }
      if (c == Cat::kNum) { *out = ValueToDouble(in) != 0; return Status::OK(); }
      bool b = false;
      if (c == Cat::kText && TextToBool(std::get<std::u16string>(in), &b)) { *out = b; return Status::OK(); }
      return mismatch("yes or no");
    }
    case ColumnType::kByte: case ColumnType::kInt: case ColumnType::kLong: {
      if (c == Cat::kBin || c == Cat::kGuid) return mismatch("a number");
      Value n;
      if (!ToNumber(in, &n).ok()) return mismatch("a number");
      int64_t i = 0;
      if (n.index() == 2) {
        i = std::get<int64_t>(n);
      } else {
        double d = std::nearbyint(std::get<double>(n));
        if (!(std::fabs(d) < 9e18)) return overflow();
        i = static_cast<int64_t>(d);
      }
      int64_t lo = col.type == ColumnType::kByte ? 0 : (col.type == ColumnType::kInt ? -32768 : INT32_MIN);
      int64_t hi = col.type == ColumnType::kByte ? 255 : (col.type == ColumnType::kInt ? 32767 : INT32_MAX);
      if (i < lo || i > hi) return overflow();
      *out = i;
      return Status::OK();
    }
    case ColumnType::kMoney: {
      if (c == Cat::kBin || c == Cat::kGuid) return mismatch("a number");
      Value n;
      if (!ToNumber(in, &n).ok()) return mismatch("a number");
      if (n.index() == 2) {
        int64_t units = 0;
        if (__builtin_mul_overflow(std::get<int64_t>(n), int64_t{10000}, &units)) return overflow();
        *out = Money{units};
      } else {
        double d = std::get<double>(n) * 10000.0;
        if (!(std::fabs(d) < 9.2e18)) return overflow();
        *out = Money{std::llround(d)};
      }
      return Status::OK();
    }
    case ColumnType::kFloat: case ColumnType::kDouble: {
      if (c == Cat::kBin || c == Cat::kGuid) return mismatch("a number");
      Value n;
      if (!ToNumber(in, &n).ok()) return mismatch("a number");
      double d = ValueToDouble(n);
      if (col.type == ColumnType::kFloat && std::fabs(d) > FLT_MAX) return overflow();
      *out = d;
      return Status::OK();
    }
    case ColumnType::kNumeric: {
      if (c == Cat::kBin || c == Cat::kGuid) return mismatch("a number");
      Value n;
      if (!ToNumber(in, &n).ok()) return mismatch("a number");
      long double d = n.index() == 2 ? static_cast<long double>(std::get<int64_t>(n)) : std::get<double>(n);
      for (int i = 0; i < col.scale; ++i) d *= 10;
      d = std::nearbyint(d);
      long double limit = 1;
      int precision = col.precision ? col.precision : 18;
      for (int i = 0; i < precision && i < 19; ++i) limit *= 10;
      if (!(std::fabs(d) < limit) || std::fabs(d) >= 1.8e19L) return overflow();
      uint64_t m = static_cast<uint64_t>(std::fabs(d));
      Decimal dec;
      dec.negative = d < 0;
      dec.lo = static_cast<uint32_t>(m);
      dec.mid = static_cast<uint32_t>(m >> 32);
      dec.scale = col.scale;
      *out = dec;
      return Status::OK();
    }
    case ColumnType::kDateTime: {
      if (c == Cat::kDate) { *out = in; return Status::OK(); }
      if (c == Cat::kText) {
        double oa = 0;
        if (!ParseDateText(std::get<std::u16string>(in), true, &oa)) return mismatch("a date");
        *out = Date{oa};
        return Status::OK();
      }
      if (c == Cat::kNum) {
        double d = ValueToDouble(in);
        if (!(std::fabs(d) < 2958466)) return overflow();
        *out = Date{d};
        return Status::OK();
      }
      return mismatch("a date");
    }
    case ColumnType::kBinary: case ColumnType::kOle:
      if (c == Cat::kBin) { *out = std::move(in); return Status::OK(); }
      return mismatch("a byte block");
    case ColumnType::kGuid: {
      if (c == Cat::kGuid) { *out = in; return Status::OK(); }
      Guid g;
      if (c == Cat::kText && TextToGuid(std::get<std::u16string>(in), &g)) { *out = g; return Status::OK(); }
      return mismatch("a replication ID");
    }
  }
  return mismatch("storable");
}

std::string OrderKey(const Value& v, const SortOrder* text_order) {
  std::string key;
  auto put_double = [&key](double d) {
    uint64_t bits = 0;
    if (d == 0) d = 0;  // -0 sorts with 0
    std::memcpy(&bits, &d, 8);
    bits = (bits & (1ull << 63)) ? ~bits : (bits | (1ull << 63));
    for (int i = 7; i >= 0; --i) key.push_back(static_cast<char>(bits >> (i * 8)));
  };
  switch (CatOf(v)) {
    case Cat::kNull: key.push_back('\0'); break;
    case Cat::kBool: case Cat::kNum: key.push_back('\1'); put_double(ValueToDouble(v)); break;
    case Cat::kDate: key.push_back('\1'); put_double(SecondsOf(v) / 86400.0); break;
    case Cat::kText:
      key.push_back('\2');
      if (text_order) key += TextCollationKey(std::get<std::u16string>(v), *text_order);
      else key += SortKey(std::get<std::u16string>(v));
      break;
    case Cat::kBin: key.push_back('\3'); key += std::get<Binary>(v).bytes; break;
    case Cat::kGuid: key.push_back('\4'); key.append(reinterpret_cast<const char*>(std::get<Guid>(v).bytes), 16); break;
  }
  return key;
}

}  // namespace mdb
