#include "mdb/sql.h"

#include <algorithm>
#include <new>

#include "mdb/collation.h"
#include "mdb/index_key.h"
#include "mdb/sql_ast.h"
#include "mdb/sql_eval.h"
#include "mdb/sql_parser.h"
#include "mdb/sql_text.h"

namespace mdb {

namespace {

// Runs step; an allocation that fails inside it is a failed statement, never
// an exception for a caller that cannot take one (a window procedure).
template <typename Step>
Status NoThrow(Step&& step) {
  try {
    return step();
  } catch (const std::bad_alloc&) {
    return Status::NoMemory("the statement needs more memory than there is");
  }
}

// The current row of a cursor, each column read at most once per row. The
// values' buffers are kept from row to row. Exports read every field of
// every row, so Peek is kept short and Fill reads many in one call.
class CursorRow final : public RowSource {
 public:
  CursorRow(Cursor* cursor, size_t columns)
      : cursor_(cursor), values_(columns), have_(columns), missing_(columns) {}
  void Reset(Cursor* cursor) {
    cursor_ = cursor;
    std::fill(have_.begin(), have_.end(), 0);
    touched_ = false;
  }
  Status Get(int column, Value* out) override {
    const Value* v = nullptr;
    MDB_RETURN_IF_ERROR(Peek(column, nullptr, &v));
    *out = *v;
    return Status::OK();
  }
  Status Length(int column, int64_t* bytes) {
    if (static_cast<size_t>(column) >= values_.size()) return Status::InvalidArgument("column out of range");
    if (!have_[column]) return cursor_->Length(column, bytes);
    const Value& v = values_[column];
    if (IsNull(v)) *bytes = -1;
    else if (v.index() == 7) *bytes = static_cast<int64_t>(std::get<Binary>(v).bytes.size());
    else return Status::InvalidArgument("not a byte-block column");
    return Status::OK();
  }
  Status Peek(int column, Value*, const Value** out) override {
    if (static_cast<size_t>(column) >= values_.size()) return Status::InvalidArgument("column out of range");
    if (!have_[column]) {
      Status s = cursor_->Get(column, &values_[column]);
      if (!s.ok()) {
        values_[column] = Value();
        return s;
      }
      have_[column] = 1;
      touched_ = true;
    }
    *out = &values_[column];
    return Status::OK();
  }
  // Reads every column with wanted[i] set that is not read yet; then
  // value(i) holds it.
  Status Fill(const uint8_t* wanted) {
    const size_t n = values_.size();
    const uint8_t* ask = wanted;
    if (touched_) {  // some were read one by one: only the others
      for (size_t i = 0; i < n; ++i) missing_[i] = wanted[i] && !have_[i];
      ask = missing_.data();
    }
    MDB_RETURN_IF_ERROR(cursor_->GetRow(n, ask, values_.data()));
    for (size_t i = 0; i < n; ++i) have_[i] |= ask[i];
    touched_ = true;
    return Status::OK();
  }
  const Value& value(int column) const { return values_[column]; }

 private:
  Cursor* cursor_;
  std::vector<Value> values_;
  std::vector<uint8_t> have_, missing_;
  bool touched_ = false;  // a value was read since Reset
};

// A row addressed by its id, read column by column.
class StoredRow : public RowSource {
 public:
  StoredRow(Table* table, RowId id) : table_(table), id_(id) {}
  Status Get(int column, Value* out) override { return table_->Read(id_, column, out); }

 private:
  Table* table_;
  RowId id_;
};

bool IsIntegerColumn(ColumnType t) {
  return t == ColumnType::kByte || t == ColumnType::kInt || t == ColumnType::kLong;
}

bool IsTextColumn(ColumnType t) { return t == ColumnType::kText || t == ColumnType::kMemo; }

// The sort order a table's texts compare by: its first text column's (a
// table's text columns share the database's order), General without one.
SortOrder TextOrderOf(const Table& table) {
  for (const Column& c : table.columns())
    if (IsTextColumn(c.type) && c.sort_order != 0) return SortOrder{c.sort_order, c.sort_version};
  return SortOrder{};
}

// A cursor over the rows that may satisfy where: an index seek for
// "[col]=n" on an indexed whole-number column or "[col]='text'" on an
// indexed text column (texts compare as their keys do, so the seek finds the
// rows a scan would), otherwise a scan.
Status OpenRows(Table* table, const Expr* where, std::unique_ptr<Cursor>* out) {
  std::vector<const Expr*> conjuncts;
  std::vector<const Expr*> stack;
  if (where) stack.push_back(where);
  while (!stack.empty()) {
    const Expr* e = stack.back();
    stack.pop_back();
    if (e->kind == ExprKind::kBinary && e->ops[0] == Op::kAnd) {
      for (const auto& arg : e->args) stack.push_back(arg.get());
    } else {
      conjuncts.push_back(e);
    }
  }
  const auto& columns = table->columns();
  for (const Expr* e : conjuncts) {
    if (e->kind != ExprKind::kBinary || e->ops.size() != 1 || e->ops[0] != Op::kEq) continue;
    const Expr* col = e->args[0].get();
    const Expr* lit = e->args[1].get();
    if (col->kind != ExprKind::kColumn) std::swap(col, lit);
    if (col->kind != ExprKind::kColumn || lit->kind != ExprKind::kLiteral) continue;
    // Only a whole number: 1.5 must match no row, not the rounded 2.
    bool whole = IsIntegerColumn(columns[col->column].type) && std::holds_alternative<int64_t>(lit->value);
    bool text = IsTextColumn(columns[col->column].type) && std::holds_alternative<std::u16string>(lit->value);
    if (!whole && !text) continue;
    Value key;
    if (!ConvertForColumn(columns[col->column], lit->value, &key).ok() || IsNull(key)) continue;
    const auto& indexes = table->indexes();
    for (size_t i = 0; i < indexes.size(); ++i) {
      if (indexes[i].columns.empty() || indexes[i].columns[0].column != col->column) continue;
      Status s = table->Seek(static_cast<int>(i), {key}, out);
      if (s.ok()) return s;
      if (s.code() != Status::Code::kNotSupported) return s;
      break;  // the engine cannot seek yet: scan
    }
  }
  *out = table->Scan();
  if (!*out) return Status::IOError("cannot scan table");
  return Status::OK();
}

class QueryRecordSet : public RecordSet {
 public:
  QueryRecordSet(Database* db, std::unique_ptr<Table> table, Statement stmt)
      : db_(db), table_(std::move(table)), stmt_(std::move(stmt)), row_(nullptr, table_->columns().size()) {}

  ~QueryRecordSet() override {
    cursor_.reset();
    table_.reset();
    if (reading_) db_->EndRead();
  }

  Status Init() {
    MDB_RETURN_IF_ERROR(db_->BeginRead());
    reading_ = true;
    const auto& columns = table_->columns();
    const std::u16string& tname = table_->name();
    if (stmt_.where) MDB_RETURN_IF_ERROR(BindExpr(stmt_.where.get(), tname, columns));
    for (auto& o : stmt_.order) MDB_RETURN_IF_ERROR(BindExpr(o.expr.get(), tname, columns));
    int expr_no = 1000;
    for (auto& item : stmt_.items) {
      if (item.star) {
        for (size_t i = 0; i < columns.size(); ++i) {
          Output o;
          o.column = static_cast<int>(i);
          names_.push_back(columns[i].name);
          types_.push_back(columns[i].type);
          outputs_.push_back(std::move(o));
        }
        continue;
      }
      MDB_RETURN_IF_ERROR(BindExpr(item.expr.get(), tname, columns));
      Output o;
      std::u16string name = item.alias;
      if (item.expr->kind == ExprKind::kColumn) {
        o.column = item.expr->column;
        if (name.empty()) name = columns[o.column].name;
        types_.push_back(columns[o.column].type);
      } else {
        o.expr = item.expr.get();
        if (name.empty()) {
          std::string n = "Expr" + std::to_string(expr_no++);
          name.assign(n.begin(), n.end());
        }
        types_.push_back(ColumnType::kMemo);  // refined by the first value read
      }
      names_.push_back(std::move(name));
      outputs_.push_back(o);
    }
    return First();
  }

  const std::vector<std::u16string>& column_names() const override { return names_; }
  const std::vector<ColumnType>& column_types() const override { return types_; }
  int ColumnIndex(const std::u16string& name) const override {
    for (size_t i = 0; i < names_.size(); ++i)
      if (TextEquals(names_[i], name)) return static_cast<int>(i);
    return -1;
  }
  bool AtEnd() const override { return at_end_; }

  Status MoveFirst() override { return Moved(NoThrow([this] { return First(); })); }
  Status MoveNext() override { return Moved(NoThrow([this] { return Next(); })); }
  Status Get(int column, Value* out) override {
    return NoThrow([&] {
      const Value* v;
      MDB_RETURN_IF_ERROR(Field(column, &v));
      *out = *v;
      return Status::OK();
    });
  }
  Status Length(int column, int64_t* bytes) override {
    return NoThrow([&] { return FieldLength(column, bytes); });
  }
  Status PeekRow(const uint8_t* wanted, const Value** out) override {
    return NoThrow([&] {
      if (at_end_) return Status::NotFound("no current record");
      if (row_wanted_.size() != outputs_.size() || !std::equal(row_wanted_.begin(), row_wanted_.end(), wanted))
        PlanRow(wanted);
      // The table's columns from the cursor in one call, then expressions.
      MDB_RETURN_IF_ERROR(row_.Fill(table_wanted_.data()));
      for (const auto& [i, column] : row_columns_) out[i] = &row_.value(column);
      for (int i : row_exprs_) MDB_RETURN_IF_ERROR(Field(i, &out[i]));
      return Status::OK();
    });
  }
  Status Peek(int column, const Value** out) override {
    try {
      // A column of the table, the common case of exports: straight to the
      // row's cache.
      if (!at_end_ && static_cast<size_t>(column) < outputs_.size() && outputs_[column].expr == nullptr)
        return row_.Peek(outputs_[column].column, nullptr, out);
      return Field(column, out);
    } catch (const std::bad_alloc&) {
      return Status::NoMemory("the statement needs more memory than there is");
    }
  }

 private:
  // What PeekRow reads for this set of wanted columns; kept while callers
  // ask for the same set row after row.
  void PlanRow(const uint8_t* wanted) {
    row_wanted_.assign(wanted, wanted + outputs_.size());
    table_wanted_.assign(table_->columns().size(), 0);
    row_columns_.clear();
    row_exprs_.clear();
    for (size_t i = 0; i < outputs_.size(); ++i) {
      if (!wanted[i]) continue;
      if (outputs_[i].expr == nullptr) {
        table_wanted_[outputs_[i].column] = 1;
        row_columns_.emplace_back(static_cast<int>(i), outputs_[i].column);
      } else {
        row_exprs_.push_back(static_cast<int>(i));
      }
    }
  }

  // A move that failed leaves no current record.
  Status Moved(Status s) {
    if (!s.ok()) at_end_ = true;
    return s;
  }

  Status First() {
    // Already on the first row: the program calls MoveFirst right after the
    // query, and a second sort or scan would be wasted.
    if (fresh_) return Status::OK();
    at_end_ = true;
    produced_ = 0;
    cursor_.reset();
    if (!stmt_.order.empty()) {
      std::vector<RowId> ids;
      std::vector<std::string> rows;
      MDB_RETURN_IF_ERROR(Sort(&ids, &rows));
      cursor_ = table_->Fetch(std::move(ids), std::move(rows));
      MDB_RETURN_IF_ERROR(NextSorted());
    } else {
      MDB_RETURN_IF_ERROR(OpenRows(table_.get(), stmt_.where.get(), &cursor_));
      MDB_RETURN_IF_ERROR(Advance());
    }
    if (stmt_.top == 0) at_end_ = true;
    fresh_ = true;
    return Status::OK();
  }

  Status Next() {
    if (at_end_) return Status::OK();
    fresh_ = false;
    ++produced_;
    if (stmt_.top >= 0 && produced_ >= stmt_.top) {
      at_end_ = true;
      return Status::OK();
    }
    if (!stmt_.order.empty()) return NextSorted();
    return Advance();
  }

  Status FieldLength(int column, int64_t* bytes) {
    if (at_end_) return Status::NotFound("no current record");
    if (column < 0 || static_cast<size_t>(column) >= outputs_.size())
      return Status::InvalidArgument("no such column in the record set");
    const Output& o = outputs_[column];
    if (o.expr == nullptr) return row_.Length(o.column, bytes);
    const Value* v;
    MDB_RETURN_IF_ERROR(Field(column, &v));
    if (IsNull(*v)) *bytes = -1;
    else if (v->index() == 7) *bytes = static_cast<int64_t>(std::get<Binary>(*v).bytes.size());
    else return Status::InvalidArgument("not a byte-block value");
    return Status::OK();
  }

  Status Field(int column, const Value** out) {
    if (at_end_) return Status::NotFound("no current record");
    if (column < 0 || static_cast<size_t>(column) >= outputs_.size())
      return Status::InvalidArgument("no such column in the record set");
    Output& o = outputs_[column];
    if (o.expr == nullptr) return row_.Peek(o.column, nullptr, out);
    EvalContext ctx{&row_, nullptr, &text_order_};
    MDB_RETURN_IF_ERROR(Eval(*o.expr, &ctx, &o.value));
    *out = &o.value;
    return Status::OK();
  }

 private:
  struct Output {
    int column = -1;
    const Expr* expr = nullptr;
    Value value;  // an expression's value, for Peek
  };
  // Rows sorted in memory keep their bytes up to this much (a tenth of a
  // million persons' register is some 20 MB); beyond it they are read again
  // by id after the sort.
  static constexpr size_t kSortRowBudget = 64 << 20;

  // Moves the cursor to the next row that satisfies the WHERE clause.
  Status Advance() {
    while (cursor_->Next()) {
      row_.Reset(cursor_.get());
      bool keep = true;
      if (stmt_.where) {
        EvalContext ctx{&row_, nullptr, &text_order_};
        MDB_RETURN_IF_ERROR(EvalCondition(*stmt_.where, &ctx, &keep));
      }
      if (keep) {
        at_end_ = false;
        return Status::OK();
      }
    }
    at_end_ = true;
    return cursor_->status();
  }

  // Sorted rows come back by id, each read once per position.
  Status NextSorted() {
    if (cursor_->Next()) {
      row_.Reset(cursor_.get());
      at_end_ = false;
      return Status::OK();
    }
    at_end_ = true;
    return cursor_->status();
  }

  // The matching rows' ids in sort order, and their stored bytes when all of
  // them fit the budget (else rows is left empty and they are read again).
  // Keys lie one after another in one buffer and the sort moves row numbers,
  // not rows: a sort of a hundred thousand rows costs little more than the
  // scan that finds them.
  Status Sort(std::vector<RowId>* ids, std::vector<std::string>* rows) {
    const size_t nkeys = stmt_.order.size();
    std::vector<RowId> found;
    std::vector<std::string> bytes;  // each found row's, while they fit the budget
    std::string keys;                // every key of every row
    std::vector<size_t> key_ends;    // nkeys per row
    bool keep_rows = true;
    size_t row_bytes = 0;
    std::unique_ptr<Cursor> cursor;
    MDB_RETURN_IF_ERROR(OpenRows(table_.get(), stmt_.where.get(), &cursor));
    CursorRow row(cursor.get(), table_->columns().size());
    Value scratch;
    while (cursor->Next()) {
      row.Reset(cursor.get());
      EvalContext ctx{&row, nullptr, &text_order_};
      bool keep = true;
      if (stmt_.where) MDB_RETURN_IF_ERROR(EvalCondition(*stmt_.where, &ctx, &keep));
      if (!keep) continue;
      found.push_back(cursor->row_id());
      if (keep_rows) {
        const std::string* b = cursor->row_bytes();
        if (b && row_bytes + b->size() <= kSortRowBudget) {
          bytes.push_back(*b);
          row_bytes += b->size();
        } else {
          keep_rows = false;
          std::vector<std::string>().swap(bytes);
        }
      }
      for (const auto& o : stmt_.order) {
        const Value* v = &scratch;
        if (o.expr->kind == ExprKind::kColumn) MDB_RETURN_IF_ERROR(row.Peek(o.expr->column, &scratch, &v));
        else MDB_RETURN_IF_ERROR(Eval(*o.expr, &ctx, &scratch));
        keys += OrderKey(*v, &text_order_);
        key_ends.push_back(keys.size());
      }
    }
    MDB_RETURN_IF_ERROR(cursor->status());
    auto key = [&](uint32_t r, size_t i) {
      size_t k = r * nkeys + i;
      size_t start = k == 0 ? 0 : key_ends[k - 1];
      return std::string_view(keys).substr(start, key_ends[k] - start);
    };
    std::vector<uint32_t> order(found.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
    // Stable: rows with equal keys keep their storage order.
    const auto& items = stmt_.order;
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
      for (size_t i = 0; i < nkeys; ++i) {
        int c = key(a, i).compare(key(b, i));
        if (c == 0) continue;
        return items[i].descending ? c > 0 : c < 0;
      }
      return false;
    });
    std::string().swap(keys);
    ids->reserve(order.size());
    for (uint32_t r : order) ids->push_back(found[r]);
    if (keep_rows && !order.empty()) {
      rows->reserve(order.size());
      for (uint32_t r : order) rows->push_back(std::move(bytes[r]));
    }
    return Status::OK();
  }

  Database* db_;
  std::unique_ptr<Table> table_;
  Statement stmt_;
  SortOrder text_order_ = TextOrderOf(*table_);
  bool reading_ = false;
  std::vector<std::u16string> names_;
  std::vector<ColumnType> types_;
  std::vector<Output> outputs_;
  std::unique_ptr<Cursor> cursor_;
  CursorRow row_;
  // PeekRow's plan (PlanRow).
  std::vector<uint8_t> row_wanted_, table_wanted_;
  std::vector<std::pair<int, int>> row_columns_;  // (output, table column)
  std::vector<int> row_exprs_;
  int64_t produced_ = 0;
  bool at_end_ = true;
  bool fresh_ = false;
};

Status OpenTableFor(Database* db, const std::u16string& name, std::unique_ptr<Table>* out) {
  Status s = db->OpenTable(name, out);
  if (s.IsNotFound()) return Status::NotFound("no table [" + SqlUtf8(name) + "]");
  return s;
}

// The catalog, permissions and relationships are the database's own: a
// statement that changed them could leave objects Access cannot open.
Status RefuseSystemTable(Database* db, const Table& table) {
  const std::u16string& name = table.name();
  bool system = name.size() >= 4 && (name[0] | 0x20) == u'm' && (name[1] | 0x20) == u's' &&
                (name[2] | 0x20) == u'y' && (name[3] | 0x20) == u's';
  if (!system) {
    std::vector<std::u16string> user;
    MDB_RETURN_IF_ERROR(db->ListTables(&user));
    system = std::find(user.begin(), user.end(), name) == user.end();
  }
  if (system)
    return Status::NotSupported("table [" + SqlUtf8(name) +
                                "] is a system table: the database keeps it itself, and SQL may read it but not change it");
  return Status::OK();
}

// Finds the rows a change applies to before changing any of them, so a
// row that moves during the change is not met twice.
Status MatchingRows(Table* table, const Expr* where, const Binary* param, std::vector<RowId>* ids) {
  SortOrder order = TextOrderOf(*table);
  std::unique_ptr<Cursor> cursor;
  MDB_RETURN_IF_ERROR(OpenRows(table, where, &cursor));
  CursorRow row(cursor.get(), table->columns().size());
  while (cursor->Next()) {
    row.Reset(cursor.get());
    bool keep = true;
    if (where) {
      EvalContext ctx{&row, param, &order};
      MDB_RETURN_IF_ERROR(EvalCondition(*where, &ctx, &keep));
    }
    if (keep) ids->push_back(cursor->row_id());
  }
  return cursor->status();
}

int FindColumn(const std::vector<Column>& columns, const std::u16string& name) {
  for (size_t i = 0; i < columns.size(); ++i)
    if (TextEquals(columns[i].name, name)) return static_cast<int>(i);
  return -1;
}

Status ResolveColumns(const Statement& st, const Table& table, std::vector<int>* out) {
  const auto& columns = table.columns();
  for (const auto& name : st.columns) {
    int c = FindColumn(columns, name);
    if (c < 0) return Status::NotFound("no column [" + SqlUtf8(name) + "] in table [" + SqlUtf8(table.name()) + "]");
    if (std::find(out->begin(), out->end(), c) != out->end())
      return Status::InvalidArgument("column [" + SqlUtf8(name) + "] named twice");
    out->push_back(c);
  }
  return Status::OK();
}

Status RunInsert(Table* table, Statement* st, const Binary* param, int64_t* rows) {
  const auto& columns = table->columns();
  std::vector<int> targets;
  if (st->columns.empty()) {
    if (st->values.size() != columns.size())
      return Status::InvalidArgument("the number of values differs from the number of columns");
    for (size_t i = 0; i < columns.size(); ++i) targets.push_back(static_cast<int>(i));
  } else {
    MDB_RETURN_IF_ERROR(ResolveColumns(*st, *table, &targets));
  }
  std::vector<Value> values(columns.size());
  EvalContext ctx{nullptr, param};
  for (size_t i = 0; i < targets.size(); ++i) {
    MDB_RETURN_IF_ERROR(BindExpr(st->values[i].get(), table->name(), columns));
    Value v;
    MDB_RETURN_IF_ERROR(Eval(*st->values[i], &ctx, &v));
    MDB_RETURN_IF_ERROR(ConvertForColumn(columns[targets[i]], std::move(v), &values[targets[i]]));
  }
  RowId id;
  int64_t autonumber = 0;
  MDB_RETURN_IF_ERROR(table->Insert(values, &id, &autonumber));
  *rows = 1;
  return Status::OK();
}

Status RunUpdate(Table* table, Statement* st, const Binary* param, int64_t* rows) {
  const auto& columns = table->columns();
  std::vector<int> targets;
  MDB_RETURN_IF_ERROR(ResolveColumns(*st, *table, &targets));
  for (auto& v : st->values) MDB_RETURN_IF_ERROR(BindExpr(v.get(), table->name(), columns));
  if (st->where) MDB_RETURN_IF_ERROR(BindExpr(st->where.get(), table->name(), columns));
  std::vector<RowId> ids;
  MDB_RETURN_IF_ERROR(MatchingRows(table, st->where.get(), param, &ids));
  SortOrder order = TextOrderOf(*table);
  for (const RowId& id : ids) {
    StoredRow row(table, id);
    EvalContext ctx{&row, param, &order};
    std::vector<std::pair<int, Value>> changes;
    for (size_t i = 0; i < targets.size(); ++i) {
      Value v, stored;
      MDB_RETURN_IF_ERROR(Eval(*st->values[i], &ctx, &v));
      MDB_RETURN_IF_ERROR(ConvertForColumn(columns[targets[i]], std::move(v), &stored));
      changes.emplace_back(targets[i], std::move(stored));
    }
    RowId moved;
    MDB_RETURN_IF_ERROR(table->Update(id, changes, &moved));
  }
  *rows = static_cast<int64_t>(ids.size());
  return Status::OK();
}

Status RunDelete(Table* table, Statement* st, const Binary* param, int64_t* rows) {
  if (st->where) MDB_RETURN_IF_ERROR(BindExpr(st->where.get(), table->name(), table->columns()));
  std::vector<RowId> ids;
  MDB_RETURN_IF_ERROR(MatchingRows(table, st->where.get(), param, &ids));
  for (const RowId& id : ids) MDB_RETURN_IF_ERROR(table->Delete(id));
  *rows = static_cast<int64_t>(ids.size());
  return Status::OK();
}

Status Query(Database* db, const std::u16string& sql, std::unique_ptr<RecordSet>* out) {
  Statement st;
  MDB_RETURN_IF_ERROR(ParseStatement(sql, &st));
  if (st.kind != Statement::Kind::kSelect)
    return Status::InvalidArgument("a query must be a SELECT statement");
  if (st.param_count > 0) return Status::InvalidArgument("a query takes no '?' parameter");
  std::unique_ptr<Table> table;
  MDB_RETURN_IF_ERROR(OpenTableFor(db, st.table, &table));
  auto rs = std::make_unique<QueryRecordSet>(db, std::move(table), std::move(st));
  MDB_RETURN_IF_ERROR(rs->Init());
  *out = std::move(rs);
  return Status::OK();
}

Status Change(Database* db, const std::u16string& sql, const Binary* param, int64_t* rows_affected) {
  Statement st;
  MDB_RETURN_IF_ERROR(ParseStatement(sql, &st));
  if (st.kind == Statement::Kind::kSelect)
    return Status::InvalidArgument("a SELECT statement changes nothing; run it as a query");
  if (st.param_count > 0 && param == nullptr)
    return Status::InvalidArgument("no value was given for the '?' parameter");
  MDB_RETURN_IF_ERROR(db->Begin());
  int64_t rows = 0;
  // Whatever fails from here on, memory included, is rolled back.
  Status s = NoThrow([&] {
    std::unique_ptr<Table> table;
    MDB_RETURN_IF_ERROR(OpenTableFor(db, st.table, &table));
    MDB_RETURN_IF_ERROR(RefuseSystemTable(db, *table));
    switch (st.kind) {
      case Statement::Kind::kInsert: return RunInsert(table.get(), &st, param, &rows);
      case Statement::Kind::kUpdate: return RunUpdate(table.get(), &st, param, &rows);
      case Statement::Kind::kDelete: return RunDelete(table.get(), &st, param, &rows);
      default: return Status::OK();
    }
  });
  if (s.ok()) s = NoThrow([db] { return db->Commit(); });
  if (!s.ok()) {
    db->Rollback();
    return s;
  }
  if (rows_affected) *rows_affected = rows;
  return Status::OK();
}

}  // namespace

Status RecordSet::PeekRow(const uint8_t* wanted, const Value** out) {
  for (size_t i = 0; i < column_names().size(); ++i)
    if (wanted[i]) MDB_RETURN_IF_ERROR(Peek(static_cast<int>(i), &out[i]));
  return Status::OK();
}

Status ExecuteQuery(Database* db, const std::u16string& sql, std::unique_ptr<RecordSet>* out) {
  out->reset();
  return NoThrow([&] { return Query(db, sql, out); });
}

Status ExecuteStatement(Database* db, const std::u16string& sql, const Binary* param, int64_t* rows_affected) {
  if (rows_affected) *rows_affected = 0;
  return NoThrow([&] { return Change(db, sql, param, rows_affected); });
}

}  // namespace mdb
