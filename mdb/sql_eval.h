// Evaluating expressions the way the database does: NULL propagates, texts
// compare without regard to case, dates compare to the second, and a text
// compared with or stored into a date or yes/no column is read as one.
#pragma once

#include <string>
#include <vector>

#include "mdb/mdb.h"
#include "mdb/sql_ast.h"

namespace mdb {

// The row an expression reads its columns from.
class RowSource {
 public:
  virtual ~RowSource() = default;
  virtual Status Get(int column, Value* out) = 0;
  // The value without a copy where the source keeps it (valid while the row
  // is current); else read into *scratch, and *out points there.
  virtual Status Peek(int column, Value* scratch, const Value** out) {
    *out = scratch;
    return Get(column, scratch);
  }
};

// Resolves column names against the table's columns (NotFound for a missing
// one) and turns constants compared with a column into that column's kind, so
// a text that is no date fails here rather than on some row.
Status BindExpr(Expr* e, const std::u16string& table, const std::vector<Column>& columns);

struct SortOrder;

struct EvalContext {
  RowSource* row = nullptr;     // null: no columns may be read
  const Binary* param = nullptr;
  // The sort order texts compare and sort by, as their index keys do (the
  // table's text columns'); null: the engine's own collation (collation.h).
  const SortOrder* text_order = nullptr;
};

Status Eval(const Expr& e, EvalContext* ctx, Value* out);
// WHERE: true only for a true result; NULL counts as false.
Status EvalCondition(const Expr& e, EvalContext* ctx, bool* out);

// The value stored into a column: converted to the column's kind, or an
// InvalidArgument naming the column when it does not fit. A text or byte
// block given as a temporary is moved, not copied.
Status ConvertForColumn(const Column& column, Value in, Value* out);

// Order-preserving byte key of a value (NULL first); texts by `text_order`
// as EvalContext says.
std::string OrderKey(const Value& v, const SortOrder* text_order = nullptr);

// Text forms used in messages and by the & operator.
std::u16string ValueToText(const Value& v);
double ValueToDouble(const Value& v);  // numbers, yes/no, dates

}  // namespace mdb
