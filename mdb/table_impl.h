// One open table: its parsed definition and the read side of the record API.
// Writes (Insert, Update, Delete) and index seeks live in table_write.cc.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "mdb/mdb.h"
#include "mdb/pager.h"
#include "mdb/tdef.h"

namespace mdb {

class DatabaseImpl;

class TableImpl : public Table {
 public:
  TableImpl(DatabaseImpl* db, std::u16string name, TableDef def);
  ~TableImpl() override;

  const std::u16string& name() const override { return name_; }
  const std::vector<Column>& columns() const override { return columns_; }
  const std::vector<IndexInfo>& indexes() const override { return indexes_; }
  int ColumnIndex(const std::u16string& name) const override;
  // Read from the file: another handle may have written since def_ was read.
  uint32_t row_count() const override;

  std::unique_ptr<Cursor> Scan() override;
  Status Seek(int index, const std::vector<Value>& key, std::unique_ptr<Cursor>* out) override;
  Status Read(RowId id, int column, Value* out) override;
  std::unique_ptr<Cursor> Fetch(std::vector<RowId> ids, std::vector<std::string> rows = {}) override;

  Status Insert(const std::vector<Value>& values, RowId* id, int64_t* autonumber) override;
  Status Update(RowId id, const std::vector<std::pair<int, Value>>& changes, RowId* moved_to) override;
  Status Delete(RowId id) override;

  // For the writer. columns()[i] corresponds to def().columns[i].
  DatabaseImpl* db() const { return db_; }
  Pager* pager() const;
  const TableDef& def() const { return def_; }
  TableDef* mutable_def() { return &def_; }
  // Re-reads the definition from the file (row count, auto-number, indexes).
  Status ReloadDef();
  // Every data page the table's usage map lists, ascending.
  Status DataPages(std::vector<uint32_t>* pages);
  // The row's bytes (moved rows followed); NotFound for a deleted row.
  Status ReadRowBytes(RowId id, std::string* row);
  // Decodes all columns of a row's bytes.
  Status DecodeRow(const std::string& row, std::vector<Value>* values);

 private:
  void BuildPublicView();

  DatabaseImpl* db_;
  std::u16string name_;
  TableDef def_;
  std::vector<Column> columns_;
  std::vector<IndexInfo> indexes_;
};

}  // namespace mdb
