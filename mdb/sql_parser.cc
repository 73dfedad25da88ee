#include "mdb/sql_parser.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "mdb/collation.h"
#include "mdb/sql_date.h"
#include "mdb/sql_text.h"

namespace mdb {

namespace {

enum class Tok : uint8_t { kEnd, kName, kQuotedName, kNumber, kString, kDate, kParam, kSymbol };

struct Token {
  Tok type = Tok::kEnd;
  std::u16string text;  // name, string contents, date text, symbol
  Value number;
  size_t pos = 0;
};

bool IsNameChar(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
         c == u'_' || c == u'$' || (c >= 0x80 && c != 0x3000 && !(c >= 0xFF01 && c <= 0xFF0F));
}

bool IsSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0x3000 || c == 0xA0;
}


class Parser {
 public:
  explicit Parser(const std::u16string& sql) : s_(sql) {}

  Status Run(Statement* out) {
    Status st = Lex();
    if (!st.ok()) return st;
    st = ParseTop(out);
    if (!st.ok()) return st;
    out->param_count = params_;
    return Status::OK();
  }

 private:
  // ---- lexer ----
  Status Lex() {
    size_t i = 0;
    const size_t n = s_.size();
    while (true) {
      while (i < n && IsSpace(s_[i])) ++i;
      Token t;
      t.pos = i;
      if (i >= n) {
        toks_.push_back(t);
        return Status::OK();
      }
      char16_t c = s_[i];
      if (c == u'[') {
        size_t j = s_.find(u']', i + 1);
        if (j == std::u16string::npos) return Error(i, "unclosed '['");
        t.type = Tok::kQuotedName;
        t.text = s_.substr(i + 1, j - i - 1);
        if (t.text.empty()) return Error(i, "empty name in brackets");
        i = j + 1;
      } else if (c == u'\'' || c == u'"') {
        t.type = Tok::kString;
        size_t j = i + 1;
        while (true) {
          if (j >= n) return Error(i, "unclosed text literal");
          if (s_[j] == c) {
            if (j + 1 < n && s_[j + 1] == c) {
              t.text.push_back(c);
              j += 2;
              continue;
            }
            break;
          }
          t.text.push_back(s_[j++]);
        }
        i = j + 1;
      } else if (c == u'#') {
        size_t j = s_.find(u'#', i + 1);
        if (j == std::u16string::npos) return Error(i, "unclosed date literal");
        t.type = Tok::kDate;
        t.text = s_.substr(i + 1, j - i - 1);
        i = j + 1;
      } else if ((c >= u'0' && c <= u'9') || (c == u'.' && i + 1 < n && s_[i + 1] >= u'0' && s_[i + 1] <= u'9')) {
        size_t j = i;
        bool real = false;
        while (j < n && s_[j] >= u'0' && s_[j] <= u'9') ++j;
        if (j < n && s_[j] == u'.') {
          real = true;
          ++j;
          while (j < n && s_[j] >= u'0' && s_[j] <= u'9') ++j;
        }
        if (j < n && (s_[j] == u'e' || s_[j] == u'E')) {
          size_t k = j + 1;
          if (k < n && (s_[k] == u'+' || s_[k] == u'-')) ++k;
          if (k < n && s_[k] >= u'0' && s_[k] <= u'9') {
            real = true;
            j = k;
            while (j < n && s_[j] >= u'0' && s_[j] <= u'9') ++j;
          }
        }
        if (j < n && IsNameChar(s_[j])) return Error(i, "malformed number");
        std::string digits;
        for (size_t k = i; k < j; ++k) digits.push_back(static_cast<char>(s_[k]));
        t.type = Tok::kNumber;
        if (!real && digits.size() <= 18) {
          t.number = static_cast<int64_t>(std::strtoll(digits.c_str(), nullptr, 10));
        } else {
          t.number = std::strtod(digits.c_str(), nullptr);
        }
        i = j;
      } else if (c == u'?') {
        t.type = Tok::kParam;
        ++i;
      } else if (IsNameChar(c)) {
        size_t j = i;
        while (j < n && IsNameChar(s_[j])) ++j;
        t.type = Tok::kName;
        t.text = s_.substr(i, j - i);
        i = j;
      } else {
        static const char16_t* kTwo[] = {u"<>", u"<=", u">=", u"!=" };
        t.type = Tok::kSymbol;
        for (const char16_t* two : kTwo) {
          if (i + 1 < n && s_[i] == two[0] && s_[i + 1] == two[1]) {
            t.text = two;
            break;
          }
        }
        if (t.text.empty()) {
          static const std::u16string kOne = u"=<>(),*+-/\\^&.;";
          if (kOne.find(c) == std::u16string::npos) return Error(i, "unexpected character");
          t.text = std::u16string(1, c);
        }
        i += t.text.size();
      }
      toks_.push_back(std::move(t));
    }
  }

  // ---- helpers ----
  Status Error(size_t pos, const std::string& what) {
    std::string near = SqlUtf8(s_.substr(pos, 20));
    return Status::InvalidArgument("syntax error at " + std::to_string(pos + 1) + ": " + what +
                                   (near.empty() ? "" : " near '" + near + "'"));
  }
  Status ErrorHere(const std::string& what) { return Error(Peek().pos, what); }

  const Token& Peek(size_t ahead = 0) const {
    size_t k = p_ + ahead;
    return k < toks_.size() ? toks_[k] : toks_.back();
  }
  Token Next() {
    Token t = Peek();
    if (p_ < toks_.size() - 1) ++p_;
    return t;
  }
  bool IsKeyword(const Token& t, const char16_t* word) const {
    return t.type == Tok::kName && TextEquals(t.text, word);
  }
  bool AcceptKeyword(const char16_t* word) {
    if (!IsKeyword(Peek(), word)) return false;
    ++p_;
    return true;
  }
  bool AcceptSymbol(const char16_t* sym) {
    if (Peek().type != Tok::kSymbol || Peek().text != sym) return false;
    ++p_;
    return true;
  }
  Status ExpectKeyword(const char16_t* word) {
    if (AcceptKeyword(word)) return Status::OK();
    return ErrorHere("expected " + SqlUtf8(word));
  }
  Status ExpectSymbol(const char16_t* sym) {
    if (AcceptSymbol(sym)) return Status::OK();
    return ErrorHere("expected '" + SqlUtf8(sym) + "'");
  }

  static bool IsReserved(const std::u16string& w) {
    static const char16_t* kWords[] = {
        u"select", u"from", u"where", u"order", u"by", u"asc", u"desc", u"insert", u"into",
        u"values", u"update", u"set", u"delete", u"and", u"or", u"not", u"like", u"between",
        u"in", u"is", u"null", u"true", u"false", u"yes", u"no", u"mod", u"as", u"top",
        u"distinct", u"on", u"off"};
    for (const char16_t* k : kWords)
      if (TextEquals(w, k)) return true;
    return false;
  }

  // A table or column name: bare (not a keyword) or in brackets.
  Status Name(std::u16string* out) {
    const Token& t = Peek();
    if (t.type == Tok::kQuotedName || (t.type == Tok::kName && !IsReserved(t.text))) {
      *out = Next().text;
      return Status::OK();
    }
    return ErrorHere("expected a name");
  }

  // ---- statements ----
  Status ParseTop(Statement* st) {
    Status s;
    if (AcceptKeyword(u"select")) {
      st->kind = Statement::Kind::kSelect;
      s = ParseSelect(st);
    } else if (AcceptKeyword(u"insert")) {
      st->kind = Statement::Kind::kInsert;
      s = ParseInsert(st);
    } else if (AcceptKeyword(u"update")) {
      st->kind = Statement::Kind::kUpdate;
      s = ParseUpdate(st);
    } else if (AcceptKeyword(u"delete")) {
      st->kind = Statement::Kind::kDelete;
      s = ParseDelete(st);
    } else {
      return ErrorHere("expected SELECT, INSERT, UPDATE or DELETE");
    }
    if (!s.ok()) return s;
    AcceptSymbol(u";");
    if (Peek().type != Tok::kEnd) return ErrorHere("unexpected text after the statement");
    return Status::OK();
  }

  Status ParseWhere(Statement* st) {
    if (AcceptKeyword(u"where")) return ParseExpr(&st->where, 0);
    return Status::OK();
  }

  Status ParseSelect(Statement* st) {
    if (AcceptKeyword(u"distinct")) return ErrorHere("DISTINCT is not supported");
    if (AcceptKeyword(u"top")) {
      Token t = Next();
      if (t.type != Tok::kNumber || !std::holds_alternative<int64_t>(t.number))
        return Error(t.pos, "expected a row count after TOP");
      st->top = std::get<int64_t>(t.number);
    }
    do {
      SelectItem item;
      if (AcceptSymbol(u"*")) {
        item.star = true;
      } else if ((Peek().type == Tok::kQuotedName || Peek().type == Tok::kName) &&
                 Peek(1).type == Tok::kSymbol && Peek(1).text == u"." &&
                 Peek(2).type == Tok::kSymbol && Peek(2).text == u"*") {
        item.star = true;
        p_ += 3;
      } else {
        MDB_RETURN_IF_ERROR(ParseExpr(&item.expr, 0));
        if (AcceptKeyword(u"as")) {
          MDB_RETURN_IF_ERROR(Name(&item.alias));
        } else if (Peek().type == Tok::kQuotedName ||
                   (Peek().type == Tok::kName && !IsReserved(Peek().text))) {
          item.alias = Next().text;
        }
      }
      st->items.push_back(std::move(item));
    } while (AcceptSymbol(u","));
    MDB_RETURN_IF_ERROR(ExpectKeyword(u"from"));
    MDB_RETURN_IF_ERROR(Name(&st->table));
    MDB_RETURN_IF_ERROR(ParseWhere(st));
    if (AcceptKeyword(u"order")) {
      MDB_RETURN_IF_ERROR(ExpectKeyword(u"by"));
      do {
        OrderItem item;
        MDB_RETURN_IF_ERROR(ParseExpr(&item.expr, 0));
        if (AcceptKeyword(u"desc")) item.descending = true;
        else AcceptKeyword(u"asc");
        st->order.push_back(std::move(item));
      } while (AcceptSymbol(u","));
    }
    return Status::OK();
  }

  Status ParseInsert(Statement* st) {
    MDB_RETURN_IF_ERROR(ExpectKeyword(u"into"));
    MDB_RETURN_IF_ERROR(Name(&st->table));
    if (AcceptSymbol(u"(")) {
      do {
        std::u16string col;
        MDB_RETURN_IF_ERROR(ColumnName(st, &col));
        st->columns.push_back(std::move(col));
      } while (AcceptSymbol(u","));
      MDB_RETURN_IF_ERROR(ExpectSymbol(u")"));
    }
    MDB_RETURN_IF_ERROR(ExpectKeyword(u"values"));
    MDB_RETURN_IF_ERROR(ExpectSymbol(u"("));
    do {
      std::unique_ptr<Expr> e;
      MDB_RETURN_IF_ERROR(ParseExpr(&e, 0));
      st->values.push_back(std::move(e));
    } while (AcceptSymbol(u","));
    MDB_RETURN_IF_ERROR(ExpectSymbol(u")"));
    if (!st->columns.empty() && st->columns.size() != st->values.size())
      return Status::InvalidArgument("the number of values differs from the number of columns");
    return Status::OK();
  }

  // A column name, optionally qualified by the statement's table.
  Status ColumnName(Statement* st, std::u16string* out) {
    MDB_RETURN_IF_ERROR(Name(out));
    if (AcceptSymbol(u".")) {
      if (!TextEquals(*out, st->table))
        return Status::NotFound("unknown table '" + SqlUtf8(*out) + "'");
      MDB_RETURN_IF_ERROR(Name(out));
    }
    return Status::OK();
  }

  Status ParseUpdate(Statement* st) {
    MDB_RETURN_IF_ERROR(Name(&st->table));
    MDB_RETURN_IF_ERROR(ExpectKeyword(u"set"));
    do {
      std::u16string col;
      MDB_RETURN_IF_ERROR(ColumnName(st, &col));
      MDB_RETURN_IF_ERROR(ExpectSymbol(u"="));
      std::unique_ptr<Expr> e;
      MDB_RETURN_IF_ERROR(ParseExpr(&e, 0));
      st->columns.push_back(std::move(col));
      st->values.push_back(std::move(e));
    } while (AcceptSymbol(u","));
    return ParseWhere(st);
  }

  Status ParseDelete(Statement* st) {
    if (!AcceptSymbol(u"*")) {
      // "DELETE t.* FROM t"
      if (Peek().type != Tok::kEnd && !IsKeyword(Peek(), u"from") && Peek(1).type == Tok::kSymbol &&
          Peek(1).text == u".") {
        p_ += 2;
        MDB_RETURN_IF_ERROR(ExpectSymbol(u"*"));
      }
    }
    MDB_RETURN_IF_ERROR(ExpectKeyword(u"from"));
    MDB_RETURN_IF_ERROR(Name(&st->table));
    return ParseWhere(st);
  }

  // ---- expressions, lowest precedence first ----
  // depth counts the nesting the parser recurses through; every node's
  // height is checked as it grows, so both stay within
  // kMaxExpressionNesting.
  Status TooDeep() {
    return ErrorHere("expression nested more than " + std::to_string(kMaxExpressionNesting) + " levels deep");
  }

  Status ParseExpr(std::unique_ptr<Expr>* out, int depth) {
    if (depth > kMaxExpressionNesting) return TooDeep();
    return ParseOr(out, depth);
  }

  // Makes child an operand of parent.
  Status Adopt(Expr* parent, std::unique_ptr<Expr> child) {
    parent->height = std::max(parent->height, child->height + 1);
    parent->args.push_back(std::move(child));
    return parent->height > kMaxExpressionNesting ? TooDeep() : Status::OK();
  }

  // Appends "op rhs" to the chain of one precedence in *acc; its first
  // operator turns *acc into the chain's first operand.
  Status Link(std::unique_ptr<Expr>* acc, Expr** chain, Op op, std::unique_ptr<Expr> rhs) {
    if (*chain == nullptr) {
      auto e = std::make_unique<Expr>();
      e->kind = ExprKind::kBinary;
      MDB_RETURN_IF_ERROR(Adopt(e.get(), std::move(*acc)));
      *chain = e.get();
      *acc = std::move(e);
    }
    (*chain)->ops.push_back(op);
    return Adopt(*chain, std::move(rhs));
  }

  Status ParseOr(std::unique_ptr<Expr>* out, int depth) {
    MDB_RETURN_IF_ERROR(ParseAnd(out, depth));
    Expr* chain = nullptr;
    while (AcceptKeyword(u"or")) {
      std::unique_ptr<Expr> rhs;
      MDB_RETURN_IF_ERROR(ParseAnd(&rhs, depth));
      MDB_RETURN_IF_ERROR(Link(out, &chain, Op::kOr, std::move(rhs)));
    }
    return Status::OK();
  }

  Status ParseAnd(std::unique_ptr<Expr>* out, int depth) {
    MDB_RETURN_IF_ERROR(ParseNot(out, depth));
    Expr* chain = nullptr;
    while (AcceptKeyword(u"and")) {
      std::unique_ptr<Expr> rhs;
      MDB_RETURN_IF_ERROR(ParseNot(&rhs, depth));
      MDB_RETURN_IF_ERROR(Link(out, &chain, Op::kAnd, std::move(rhs)));
    }
    return Status::OK();
  }

  Status ParseNot(std::unique_ptr<Expr>* out, int depth) {
    if (AcceptKeyword(u"not")) {
      if (depth + 1 > kMaxExpressionNesting) return TooDeep();
      auto e = std::make_unique<Expr>();
      e->kind = ExprKind::kUnary;
      e->op = Op::kNot;
      std::unique_ptr<Expr> operand;
      MDB_RETURN_IF_ERROR(ParseNot(&operand, depth + 1));
      MDB_RETURN_IF_ERROR(Adopt(e.get(), std::move(operand)));
      *out = std::move(e);
      return Status::OK();
    }
    return ParseComparison(out, depth);
  }

  Status ParseComparison(std::unique_ptr<Expr>* out, int depth) {
    MDB_RETURN_IF_ERROR(ParseConcat(out, depth));
    Expr* chain = nullptr;
    while (true) {
      const Token& t = Peek();
      if (t.type == Tok::kSymbol) {
        Op op;
        if (t.text == u"=") op = Op::kEq;
        else if (t.text == u"<>" || t.text == u"!=") op = Op::kNe;
        else if (t.text == u"<") op = Op::kLt;
        else if (t.text == u">") op = Op::kGt;
        else if (t.text == u"<=") op = Op::kLe;
        else if (t.text == u">=") op = Op::kGe;
        else return Status::OK();
        ++p_;
        std::unique_ptr<Expr> rhs;
        MDB_RETURN_IF_ERROR(ParseConcat(&rhs, depth));
        MDB_RETURN_IF_ERROR(Link(out, &chain, op, std::move(rhs)));
        continue;
      }
      bool negate = false;
      size_t save = p_;
      if (AcceptKeyword(u"not")) negate = true;
      auto e = std::make_unique<Expr>();
      e->negate = negate;
      std::unique_ptr<Expr> operand;
      if (AcceptKeyword(u"like")) {
        e->kind = ExprKind::kLike;
        MDB_RETURN_IF_ERROR(Adopt(e.get(), std::move(*out)));
        MDB_RETURN_IF_ERROR(ParseConcat(&operand, depth));
        MDB_RETURN_IF_ERROR(Adopt(e.get(), std::move(operand)));
      } else if (AcceptKeyword(u"between")) {
        e->kind = ExprKind::kBetween;
        MDB_RETURN_IF_ERROR(Adopt(e.get(), std::move(*out)));
        MDB_RETURN_IF_ERROR(ParseConcat(&operand, depth));
        MDB_RETURN_IF_ERROR(Adopt(e.get(), std::move(operand)));
        MDB_RETURN_IF_ERROR(ExpectKeyword(u"and"));
        MDB_RETURN_IF_ERROR(ParseConcat(&operand, depth));
        MDB_RETURN_IF_ERROR(Adopt(e.get(), std::move(operand)));
      } else if (AcceptKeyword(u"in")) {
        e->kind = ExprKind::kIn;
        MDB_RETURN_IF_ERROR(Adopt(e.get(), std::move(*out)));
        MDB_RETURN_IF_ERROR(ExpectSymbol(u"("));
        do {
          MDB_RETURN_IF_ERROR(ParseExpr(&operand, depth + 1));
          MDB_RETURN_IF_ERROR(Adopt(e.get(), std::move(operand)));
        } while (AcceptSymbol(u","));
        MDB_RETURN_IF_ERROR(ExpectSymbol(u")"));
      } else if (!negate && AcceptKeyword(u"is")) {
        e->kind = ExprKind::kIsNull;
        e->negate = AcceptKeyword(u"not");
        MDB_RETURN_IF_ERROR(ExpectKeyword(u"null"));
        MDB_RETURN_IF_ERROR(Adopt(e.get(), std::move(*out)));
      } else {
        p_ = save;
        return Status::OK();
      }
      *out = std::move(e);
      chain = nullptr;  // a comparison after this one starts a chain of its own
    }
  }

  Status ParseConcat(std::unique_ptr<Expr>* out, int depth) {
    MDB_RETURN_IF_ERROR(ParseAdditive(out, depth));
    Expr* chain = nullptr;
    while (AcceptSymbol(u"&")) {
      std::unique_ptr<Expr> rhs;
      MDB_RETURN_IF_ERROR(ParseAdditive(&rhs, depth));
      MDB_RETURN_IF_ERROR(Link(out, &chain, Op::kConcat, std::move(rhs)));
    }
    return Status::OK();
  }

  Status ParseAdditive(std::unique_ptr<Expr>* out, int depth) {
    MDB_RETURN_IF_ERROR(ParseMod(out, depth));
    Expr* chain = nullptr;
    while (true) {
      Op op;
      if (AcceptSymbol(u"+")) op = Op::kAdd;
      else if (AcceptSymbol(u"-")) op = Op::kSub;
      else return Status::OK();
      std::unique_ptr<Expr> rhs;
      MDB_RETURN_IF_ERROR(ParseMod(&rhs, depth));
      MDB_RETURN_IF_ERROR(Link(out, &chain, op, std::move(rhs)));
    }
  }

  Status ParseMod(std::unique_ptr<Expr>* out, int depth) {
    MDB_RETURN_IF_ERROR(ParseIntDiv(out, depth));
    Expr* chain = nullptr;
    while (AcceptKeyword(u"mod")) {
      std::unique_ptr<Expr> rhs;
      MDB_RETURN_IF_ERROR(ParseIntDiv(&rhs, depth));
      MDB_RETURN_IF_ERROR(Link(out, &chain, Op::kMod, std::move(rhs)));
    }
    return Status::OK();
  }

  Status ParseIntDiv(std::unique_ptr<Expr>* out, int depth) {
    MDB_RETURN_IF_ERROR(ParseMul(out, depth));
    Expr* chain = nullptr;
    while (AcceptSymbol(u"\\")) {
      std::unique_ptr<Expr> rhs;
      MDB_RETURN_IF_ERROR(ParseMul(&rhs, depth));
      MDB_RETURN_IF_ERROR(Link(out, &chain, Op::kIntDiv, std::move(rhs)));
    }
    return Status::OK();
  }

  Status ParseMul(std::unique_ptr<Expr>* out, int depth) {
    MDB_RETURN_IF_ERROR(ParseUnary(out, depth));
    Expr* chain = nullptr;
    while (true) {
      Op op;
      if (AcceptSymbol(u"*")) op = Op::kMul;
      else if (AcceptSymbol(u"/")) op = Op::kDiv;
      else return Status::OK();
      std::unique_ptr<Expr> rhs;
      MDB_RETURN_IF_ERROR(ParseUnary(&rhs, depth));
      MDB_RETURN_IF_ERROR(Link(out, &chain, op, std::move(rhs)));
    }
  }

  Status ParseUnary(std::unique_ptr<Expr>* out, int depth) {
    bool minus = Peek().type == Tok::kSymbol && Peek().text == u"-";
    bool plus = Peek().type == Tok::kSymbol && Peek().text == u"+";
    if (!minus && !plus) return ParsePower(out, depth);
    if (depth + 1 > kMaxExpressionNesting) return TooDeep();
    ++p_;
    if (plus) return ParseUnary(out, depth + 1);
    auto e = std::make_unique<Expr>();
    e->kind = ExprKind::kUnary;
    e->op = Op::kNeg;
    std::unique_ptr<Expr> operand;
    MDB_RETURN_IF_ERROR(ParseUnary(&operand, depth + 1));
    MDB_RETURN_IF_ERROR(Adopt(e.get(), std::move(operand)));
    *out = std::move(e);
    return Status::OK();
  }

  Status ParsePower(std::unique_ptr<Expr>* out, int depth) {
    MDB_RETURN_IF_ERROR(ParsePrimary(out, depth));
    Expr* chain = nullptr;
    while (AcceptSymbol(u"^")) {
      std::unique_ptr<Expr> rhs;
      MDB_RETURN_IF_ERROR(ParsePrimary(&rhs, depth));
      MDB_RETURN_IF_ERROR(Link(out, &chain, Op::kPow, std::move(rhs)));
    }
    return Status::OK();
  }

  Status ParsePrimary(std::unique_ptr<Expr>* out, int depth) {
    auto e = std::make_unique<Expr>();
    const Token& t = Peek();
    switch (t.type) {
      case Tok::kNumber:
        e->value = Next().number;
        break;
      case Tok::kString:
        e->value = Next().text;
        break;
      case Tok::kDate: {
        Token d = Next();
        double oa = 0;
        if (!ParseDateText(d.text, true, &oa)) return Error(d.pos, "invalid date literal");
        e->value = Date{oa};
        e->date_literal = true;
        break;
      }
      case Tok::kParam:
        Next();
        e->kind = ExprKind::kParam;
        if (++params_ > 1) return Error(t.pos, "only one '?' parameter is allowed");
        break;
      case Tok::kSymbol:
        if (t.text == u"(") {
          Next();
          MDB_RETURN_IF_ERROR(ParseExpr(out, depth + 1));
          return ExpectSymbol(u")");
        }
        return ErrorHere("expected a value");
      case Tok::kQuotedName:
      case Tok::kName: {
        if (t.type == Tok::kName) {
          if (AcceptKeyword(u"null")) {
            e->value = Value();
            break;
          }
          if (AcceptKeyword(u"true") || AcceptKeyword(u"yes") || AcceptKeyword(u"on")) {
            e->value = true;
            break;
          }
          if (AcceptKeyword(u"false") || AcceptKeyword(u"no") || AcceptKeyword(u"off")) {
            e->value = false;
            break;
          }
          if (IsReserved(t.text)) return ErrorHere("expected a value");
          if (Peek(1).type == Tok::kSymbol && Peek(1).text == u"(") {
            e->kind = ExprKind::kCall;
            e->name = Next().text;
            Next();
            if (!AcceptSymbol(u")")) {
              do {
                std::unique_ptr<Expr> arg;
                MDB_RETURN_IF_ERROR(ParseExpr(&arg, depth + 1));
                MDB_RETURN_IF_ERROR(Adopt(e.get(), std::move(arg)));
              } while (AcceptSymbol(u","));
              MDB_RETURN_IF_ERROR(ExpectSymbol(u")"));
            }
            break;
          }
        }
        e->kind = ExprKind::kColumn;
        e->name = Next().text;
        if (AcceptSymbol(u".")) {
          e->qualifier = std::move(e->name);
          MDB_RETURN_IF_ERROR(Name(&e->name));
        }
        break;
      }
      case Tok::kEnd:
        return ErrorHere("statement ends too early");
    }
    *out = std::move(e);
    return Status::OK();
  }

  const std::u16string& s_;
  std::vector<Token> toks_;
  size_t p_ = 0;
  int params_ = 0;
};

}  // namespace

Status ParseStatement(const std::u16string& sql, Statement* out) {
  *out = Statement();
  Parser parser(sql);
  return parser.Run(out);
}

}  // namespace mdb
