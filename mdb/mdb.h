// The engine's public interface: Access 2000-2003 (Jet 4) database files,
// opened, read and written at the level of tables and rows. Texts are UTF-16
// as the file stores them; the SQL layer (mdb/sql.h) sits on top of this.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "mdb/env.h"
#include "mdb/status.h"

namespace mdb {

// Column kinds by their code in the file.
enum class ColumnType : uint8_t {
  kBool = 0x01,
  kByte = 0x02,
  kInt = 0x03,
  kLong = 0x04,
  kMoney = 0x05,
  kFloat = 0x06,
  kDouble = 0x07,
  kDateTime = 0x08,
  kBinary = 0x09,
  kText = 0x0A,
  kOle = 0x0B,
  kMemo = 0x0C,
  kGuid = 0x0F,
  kNumeric = 0x10,
};

struct Column {
  std::u16string name;
  ColumnType type = ColumnType::kText;
  uint16_t size = 0;        // bytes the column takes (text: 2 per character)
  bool autonumber = false;  // long auto-number, assigned on insert
  bool required = false;    // NULL refused
  bool fixed = false;       // stored in the row's fixed part
  bool compressed_unicode = false;
  uint8_t precision = 0, scale = 0;  // kNumeric
  // Texts: the sort order the column records (a Windows locale id, 0 for
  // none recorded) and its version byte; index keys and comparisons follow it.
  uint16_t sort_order = 0;
  uint8_t sort_version = 0;
};

// Money is stored as a 64-bit count of ten-thousandths.
struct Money {
  int64_t units = 0;
  bool operator==(const Money&) const = default;
};
// Decimal: value = sign * magnitude / 10^scale, magnitude up to 96 bits.
struct Decimal {
  bool negative = false;
  uint32_t lo = 0, mid = 0, hi = 0;
  uint8_t scale = 0;
  bool operator==(const Decimal&) const = default;
};
// OLE automation date: days since 1899-12-30.
struct Date {
  double oa = 0;
  bool operator==(const Date&) const = default;
};
struct Guid {
  uint8_t bytes[16] = {};
  bool operator==(const Guid&) const = default;
};
struct Binary {
  std::string bytes;
  bool operator==(const Binary&) const = default;
};

// A field's value. Bool, Byte, Int and Long read as int64_t; Bool also as
// bool (kBool columns give bool); Float and Double as double.
using Value = std::variant<std::monostate, bool, int64_t, double, Money, Date,
                           std::u16string, Binary, Guid, Decimal>;
inline bool IsNull(const Value& v) { return v.index() == 0; }

// A row's place in the file: data page and row number on it.
struct RowId {
  uint32_t page = 0;
  uint16_t row = 0;
  bool operator==(const RowId&) const = default;
};

struct IndexColumn {
  int column = 0;  // position in Table::columns()
  bool ascending = true;
};
struct IndexInfo {
  std::u16string name;
  std::vector<IndexColumn> columns;
  bool primary = false;
  bool unique = false;
  bool foreign_key = false;
};

class Cursor {
 public:
  virtual ~Cursor() = default;
  // Moves to the next row; false past the last one (check status()).
  virtual bool Next() = 0;
  virtual Status status() const = 0;
  virtual RowId row_id() const = 0;
  // The current row's value of column i; long values are read whole.
  virtual Status Get(int column, Value* out) = 0;
  // The same for each of the first n columns whose wanted[i] is set, into
  // out[i]: one call a row, for readers of whole rows.
  virtual Status GetRow(size_t n, const uint8_t* wanted, Value* out);
  // The byte length of a byte-block value (binary, OLE) of the current row,
  // -1 for NULL. A long value's length is the one its field states: its
  // pages are not read.
  virtual Status Length(int column, int64_t* bytes);
  // The current row's stored bytes (long values as references), for
  // Table::Fetch to decode again later without reading the row; null when
  // the cursor cannot give them.
  virtual const std::string* row_bytes() const { return nullptr; }
};

class Table {
 public:
  virtual ~Table() = default;
  virtual const std::u16string& name() const = 0;
  virtual const std::vector<Column>& columns() const = 0;
  virtual const std::vector<IndexInfo>& indexes() const = 0;
  virtual int ColumnIndex(const std::u16string& name) const = 0;  // -1, case-insensitive
  virtual uint32_t row_count() const = 0;

  // Rows in storage order. The cursor holds a bounded amount of memory.
  virtual std::unique_ptr<Cursor> Scan() = 0;
  // Rows whose first index columns equal key, in index order.
  virtual Status Seek(int index, const std::vector<Value>& key, std::unique_ptr<Cursor>* out) = 0;
  virtual Status Read(RowId id, int column, Value* out) = 0;
  // The rows with these ids, in this order; each row's bytes are read once
  // per position, its columns decoded as they are asked for. rows, when not
  // empty, holds each id's row_bytes() as a cursor of this table gave them
  // in the same read transaction: they are used instead of reading again.
  virtual std::unique_ptr<Cursor> Fetch(std::vector<RowId> ids, std::vector<std::string> rows = {}) = 0;

  // values has one entry per column; a null for an auto-number column takes
  // the next number. The assigned auto-number, if any, goes to *autonumber.
  virtual Status Insert(const std::vector<Value>& values, RowId* id, int64_t* autonumber) = 0;
  // changes: (column, new value) pairs. The row may move; *moved_to gets its id.
  virtual Status Update(RowId id, const std::vector<std::pair<int, Value>>& changes, RowId* moved_to) = 0;
  // Also deletes the rows of relationships that cascade from this row.
  virtual Status Delete(RowId id) = 0;
};

struct OpenOptions {
  bool read_only = false;
  std::u16string password;  // ignored when the file has none
};

// The program's schema for Database::Create.
struct CreateOptions {
  std::u16string password;      // empty: no database password
  uint16_t code_page = 1252;    // of the header, as Access's own new files
  // LCID of the text order: 1033 General. Under another order the keys of
  // the catalog's Chinese names are not known and Create refuses.
  uint16_t sort_order = 1033;
  std::u16string first_user = u"张三";
  std::u16string first_password = u"580274";
  // Also an index (not unique) on [用户信息表].[姓名], as many users' files
  // have; for measuring and testing text keys.
  bool index_person_names = false;
};

class Database {
 public:
  virtual ~Database() = default;

  static Status Open(Env* env, const std::string& path, const OpenOptions& options,
                     std::unique_ptr<Database>* out);
  // A new file with the tables [用户信息表], [操作日志] and [用户表], the
  // relationship [用户表].[ID] -> [操作日志].[用户ID] (cascading delete),
  // the password and the first account. Fails if the file exists.
  static Status Create(Env* env, const std::string& path, const CreateOptions& options);

  virtual Status ListTables(std::vector<std::u16string>* names) = 0;  // user tables
  virtual Status OpenTable(const std::u16string& name, std::unique_ptr<Table>* out) = 0;

  // Every change between Begin and Commit lands in the file together or not
  // at all; a change outside Begin/Commit is its own transaction. Rollback
  // drops what was changed since Begin. Reads between BeginRead and EndRead
  // see one state of the file even while other processes write.
  virtual Status Begin() = 0;
  virtual Status Commit() = 0;
  virtual void Rollback() = 0;
  virtual Status BeginRead() = 0;
  virtual void EndRead() = 0;

  // Verifies the whole file; each fault found is appended (UTF-8). Notes
  // (when given) name states that are consistent but worth knowing, such as
  // row counts Access left stale.
  virtual Status Check(std::vector<std::string>* faults, std::vector<std::string>* notes) = 0;
  Status Check(std::vector<std::string>* faults) { return Check(faults, nullptr); }
};

}  // namespace mdb
