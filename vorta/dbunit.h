// The database unit (外部数据库): one connection to an MDB file and the record
// sets opened on it. Texts cross in GB18030; the engine works in UTF-16.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "runtime/value.h"

namespace mdb {
class Database;
class Env;
class RecordSet;
class Status;
}  // namespace mdb

namespace vorta {

class DatabaseUnit {
 public:
  // Files are reached through env (tests give one that injects faults);
  // nullptr is the platform's own.
  explicit DatabaseUnit(mdb::Env* env = nullptr);
  ~DatabaseUnit();
  DatabaseUnit(const DatabaseUnit&) = delete;
  DatabaseUnit& operator=(const DatabaseUnit&) = delete;

  // Every call below gives its failure value (false, 0, an Error value) when
  // the engine fails, memory included: nothing is thrown.

  // Opens file (a path) with the database password; closes any open one.
  bool OpenMdb(const rt::Text& file, const rt::Text& password);
  // Releases every record set and the file; harmless when already closed.
  void CloseDatabase();
  bool is_open() const;

  // A record-set number from 1 up, or 0 when the statement failed.
  int Query(const rt::Text& sql);
  void MoveFirst(int rs);
  void MoveNext(int rs);
  // True past the last record, at once for an empty result, and for an
  // unknown record set. After a move that failed, false until a field has
  // been read (as an Error value), so that the caller learns of the failure.
  bool IsAfterLast(int rs);
  // The current record's value of a column (name matched without regard to
  // case): text -> Text; byte, integer, long -> Integer; single and
  // double -> Float; currency and decimal -> Integer when whole, else Float;
  // yes/no -> Bool; date/time -> DateTime; binary and OLE -> Bytes;
  // replication ID -> Text "{...}". A NULL field, an unknown column or a
  // record set past its end give an empty value (ToText "", ToBinary empty);
  // a field that cannot be read (a damaged or unreadable file, too little
  // memory) gives an Error value.
  rt::Value ReadField(int rs, const rt::Text& column);
  void CloseRecordSet(int rs);
  // INSERT, UPDATE or DELETE; param fills the statement's one "?". Its bytes
  // are lent to the engine for the call, not copied, and are back afterwards.
  bool ExecuteSql(const rt::Text& sql, rt::Bytes* param);

  // Why the last call failed (UTF-8), for diagnostics; empty after success.
  const std::string& last_error() const { return last_error_; }

 private:
  // A record set and the column numbers of the names already asked for, as
  // the program spells them: a fill reads the same few names on every
  // row, and the columns of a record set never change.
  struct OpenSet {
    std::unique_ptr<mdb::RecordSet> set;
    std::vector<std::pair<std::string, int>> columns;
    bool move_failed = false;  // its fields read as errors, then it ends
    bool failure_read = false;
  };
  void Moved(OpenSet* open, const mdb::Status& s);

  int ColumnOf(OpenSet* open, const rt::Text& column);

  mdb::Env* env_;
  std::unique_ptr<mdb::Database> db_;
  std::map<int, OpenSet> record_sets_;
  int next_rs_ = 1;
  std::string last_error_;
};

}  // namespace vorta
