// The parsed form of a statement.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "mdb/mdb.h"

namespace mdb {

enum class Op : uint8_t {
  kEq, kNe, kLt, kGt, kLe, kGe,          // comparisons
  kAnd, kOr, kNot,                       // logic
  kNeg, kAdd, kSub, kMul, kDiv, kIntDiv, kMod, kPow, kConcat,  // arithmetic
};

// How deep expressions may nest: parentheses, NOT, signs, IN lists, function
// arguments, and operands that are operations of another precedence. The
// parser refuses deeper ones, so nothing that walks a tree recurses further.
// A chain of operators of one precedence (a + b - c ..., x = 1 OR x = 2 OR
// ...) is one level, whatever its length.
constexpr int kMaxExpressionNesting = 64;

enum class ExprKind : uint8_t {
  kLiteral,  // value
  kColumn,   // name, column (after binding)
  kParam,    // the statement's "?"
  kUnary,    // op, args[0]
  kBinary,   // args[0] ops[0] args[1] ops[1] args[2] ...: one precedence, left to right
  kLike,     // args[0] LIKE args[1]; negate
  kBetween,  // args[0] BETWEEN args[1] AND args[2]; negate
  kIn,       // args[0] IN (args[1..]); negate
  kIsNull,   // args[0] IS NULL; negate
  kCall,     // name(args)
};

struct Expr {
  ExprKind kind = ExprKind::kLiteral;
  Op op = Op::kEq;       // kUnary
  std::vector<Op> ops;   // kBinary: ops[i] joins the result so far and args[i + 1]
  int height = 1;        // levels of this tree, itself included
  bool negate = false;
  bool date_literal = false;  // a #...# literal
  Value value;
  std::u16string name;
  std::u16string qualifier;  // table name before the dot, if any
  int column = -1;
  std::vector<std::unique_ptr<Expr>> args;
};

struct SelectItem {
  bool star = false;
  std::unique_ptr<Expr> expr;
  std::u16string alias;
};

struct OrderItem {
  std::unique_ptr<Expr> expr;
  bool descending = false;
};

struct Statement {
  enum class Kind : uint8_t { kSelect, kInsert, kUpdate, kDelete };
  Kind kind = Kind::kSelect;
  std::u16string table;
  std::unique_ptr<Expr> where;
  // SELECT
  bool distinct = false;
  int64_t top = -1;
  std::vector<SelectItem> items;
  std::vector<OrderItem> order;
  // INSERT: columns and values; UPDATE: columns and values pairwise.
  std::vector<std::u16string> columns;
  std::vector<std::unique_ptr<Expr>> values;
  int param_count = 0;
};

}  // namespace mdb
