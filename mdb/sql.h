// Access SQL on top of the engine: SELECT, INSERT, UPDATE and DELETE as the
// program and its users send them. Statement texts are UTF-16.
//
// The dialect: SELECT [TOP n] * | expr [AS name], ... FROM table [WHERE ...]
// [ORDER BY expr [ASC|DESC], ...]; INSERT INTO table [(columns)] VALUES
// (...); UPDATE table SET column = expr, ... [WHERE ...]; DELETE [*] FROM
// table [WHERE ...]. Names bare or in [brackets]; 'text' or "text" with the
// quote doubled inside; numbers; true/false/yes/no; #date# (year first, or
// month/day/year); NULL; one "?". Operators = <> < > <= >=, LIKE (% _ and
// [...] lists), BETWEEN, IN, IS [NOT] NULL, AND, OR, NOT, + - * / \ MOD ^ &;
// functions now(), date(), time(). Texts compare without regard to case
// (mdb/collation.h); a text compared with or stored into a date, yes/no or
// number column is read as one, and one that cannot be fails the statement.
// Expressions nest at most 64 levels deep (kMaxExpressionNesting in
// mdb/sql_ast.h); chains of operators of one precedence have any length.
// Running out of memory fails the call with kNoMemory; a change is then
// rolled back. A byte block for the "?" is copied once, into the row.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "mdb/mdb.h"

namespace mdb {

// A query result walked one row at a time; it holds a bounded amount of memory
// whatever the table's size (an ORDER BY keeps sort keys and row ids, and the
// rows' stored bytes only while they fit 64 MB).
class RecordSet {
 public:
  virtual ~RecordSet() = default;
  virtual const std::vector<std::u16string>& column_names() const = 0;
  virtual const std::vector<ColumnType>& column_types() const = 0;
  virtual int ColumnIndex(const std::u16string& name) const = 0;  // -1, case-insensitive
  virtual bool AtEnd() const = 0;
  virtual Status MoveFirst() = 0;
  virtual Status MoveNext() = 0;
  virtual Status Get(int column, Value* out) = 0;
  // The same without a copy: valid until the record set moves or is
  // destroyed. For readers of many rows.
  virtual Status Peek(int column, const Value** out) = 0;
  // Peek for each column i whose wanted[i] is set (one entry per column),
  // into out[i], in one call: for readers of whole rows, such as exports.
  virtual Status PeekRow(const uint8_t* wanted, const Value** out);
  // A byte-block value's length (-1 for NULL) without reading a long value's
  // pages (Cursor::Length), for listings that show sizes.
  virtual Status Length(int column, int64_t* bytes) = 0;
};

// Runs a SELECT. The record set keeps the database's read lock until it is
// destroyed.
Status ExecuteQuery(Database* db, const std::u16string& sql, std::unique_ptr<RecordSet>* out);

// Runs INSERT, UPDATE or DELETE as one transaction. param fills the one "?".
// System tables (MSys*: the catalog, permissions, relationships) are
// refused with NotSupported.
Status ExecuteStatement(Database* db, const std::u16string& sql, const Binary* param,
                        int64_t* rows_affected);

}  // namespace mdb
