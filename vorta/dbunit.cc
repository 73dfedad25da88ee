#include "vorta/dbunit.h"

#include <cmath>
#include <cstdio>
#include <new>

#include "mdb/mdb.h"
#include "mdb/sql.h"
#include "vorta/text_codec.h"

namespace vorta {

namespace {

// Whole values within 64 bits become Integer, the others Float.
rt::Value FromNumber(double d) {
  if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2e18)
    return rt::Value::FromInt(static_cast<int64_t>(d));
  return rt::Value::FromFloat(d);
}

rt::Value ToRuntime(const mdb::Value& v, mdb::ColumnType type) {
  switch (v.index()) {
    case 1: return rt::Value::FromBool(std::get<bool>(v));
    case 2:
      if (type == mdb::ColumnType::kBool) return rt::Value::FromBool(std::get<int64_t>(v) != 0);
      return rt::Value::FromInt(std::get<int64_t>(v));
    case 3: return rt::Value::FromFloat(std::get<double>(v));
    case 4: {
      int64_t units = std::get<mdb::Money>(v).units;
      if (units % 10000 == 0) return rt::Value::FromInt(units / 10000);
      return rt::Value::FromFloat(units / 10000.0);
    }
    case 5: return rt::Value::FromDate(rt::DateTime{std::get<mdb::Date>(v).oa});
    case 6: return rt::Value::FromText(text::Utf16ToGb18030(std::get<std::u16string>(v)));
    case 7: return rt::Value::FromBytes(std::get<mdb::Binary>(v).bytes);
    case 8: {
      const uint8_t* b = std::get<mdb::Guid>(v).bytes;
      char buf[40];
      std::snprintf(buf, sizeof buf,
                    "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                    b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                    b[14], b[15]);
      return rt::Value::FromText(buf);
    }
    case 9: {
      const mdb::Decimal& d = std::get<mdb::Decimal>(v);
      long double m = static_cast<long double>(d.hi) * 18446744073709551616.0L +
                      static_cast<long double>(d.mid) * 4294967296.0L + d.lo;
      long double scale = 1;
      for (int i = 0; i < d.scale; ++i) scale *= 10;
      long double whole = std::floor(m / scale);
      if (whole * scale == m && whole < 9.2e18L) {
        int64_t i = static_cast<int64_t>(whole);
        return rt::Value::FromInt(d.negative ? -i : i);
      }
      return FromNumber(static_cast<double>((d.negative ? -m : m) / scale));
    }
    default: return rt::Value();
  }
}

}  // namespace

DatabaseUnit::DatabaseUnit(mdb::Env* env) : env_(env != nullptr ? env : mdb::Env::Default()) {}
DatabaseUnit::~DatabaseUnit() { CloseDatabase(); }

bool DatabaseUnit::OpenMdb(const rt::Text& file, const rt::Text& password) try {
  CloseDatabase();
  mdb::OpenOptions options;
  options.password = text::Gb18030ToUtf16(password);
  std::unique_ptr<mdb::Database> db;
  mdb::Status s = mdb::Database::Open(env_, text::Gb18030ToUtf8(file), options, &db);
  if (!s.ok()) {
    last_error_ = s.ToString();
    return false;
  }
  db_ = std::move(db);
  last_error_.clear();
  return true;
} catch (const std::bad_alloc&) {
  last_error_ = "out of memory";
  return false;
}

void DatabaseUnit::CloseDatabase() {
  // Record sets hold the file's read lock: release them before the file.
  record_sets_.clear();
  db_.reset();
}

bool DatabaseUnit::is_open() const { return db_ != nullptr; }

int DatabaseUnit::Query(const rt::Text& sql) try {
  if (!db_) {
    last_error_ = "no database is open";
    return 0;
  }
  std::unique_ptr<mdb::RecordSet> rs;
  mdb::Status s = mdb::ExecuteQuery(db_.get(), text::Gb18030ToUtf16(sql), &rs);
  if (!s.ok()) {
    last_error_ = s.ToString();
    return 0;
  }
  last_error_.clear();
  int id = next_rs_++;
  if (next_rs_ <= 0) next_rs_ = 1;
  record_sets_[id].set = std::move(rs);
  return id;
} catch (const std::bad_alloc&) {
  last_error_ = "out of memory";
  return 0;
}

void DatabaseUnit::Moved(OpenSet* open, const mdb::Status& s) {
  if (s.ok()) {
    last_error_.clear();
    return;
  }
  last_error_ = s.ToString();
  open->move_failed = true;
}

void DatabaseUnit::MoveFirst(int rs) try {
  auto it = record_sets_.find(rs);
  if (it == record_sets_.end()) {
    last_error_ = "no record set " + std::to_string(rs);
    return;
  }
  mdb::Status s = it->second.set->MoveFirst();
  if (s.ok()) it->second.move_failed = it->second.failure_read = false;  // a fresh start
  Moved(&it->second, s);
} catch (const std::bad_alloc&) {
  last_error_ = "out of memory";
}

void DatabaseUnit::MoveNext(int rs) try {
  auto it = record_sets_.find(rs);
  if (it == record_sets_.end()) {
    last_error_ = "no record set " + std::to_string(rs);
    return;
  }
  Moved(&it->second, it->second.set->MoveNext());
} catch (const std::bad_alloc&) {
  last_error_ = "out of memory";
}

bool DatabaseUnit::IsAfterLast(int rs) {
  auto it = record_sets_.find(rs);
  if (it == record_sets_.end()) return true;
  if (it->second.move_failed) return it->second.failure_read;
  return it->second.set->AtEnd();
}

int DatabaseUnit::ColumnOf(OpenSet* open, const rt::Text& column) {
  for (const auto& [name, c] : open->columns)
    if (name == column) return c;
  int c = open->set->ColumnIndex(text::Gb18030ToUtf16(column));
  // A program that builds names on the fly must not grow this without end.
  if (open->columns.size() < 64) open->columns.emplace_back(column, c);
  return c;
}

rt::Value DatabaseUnit::ReadField(int rs, const rt::Text& column) try {
  auto it = record_sets_.find(rs);
  if (it == record_sets_.end()) {
    last_error_ = "no record set " + std::to_string(rs);
    return rt::Value();
  }
  if (it->second.move_failed) {
    it->second.failure_read = true;
    return rt::Value::Error();
  }
  mdb::RecordSet* set = it->second.set.get();
  int c = ColumnOf(&it->second, column);
  if (c < 0) {
    last_error_ = "no column '" + text::Gb18030ToUtf8(column) + "' in the record set";
    return rt::Value();
  }
  if (set->AtEnd()) {
    last_error_ = "the record set has no current record";
    return rt::Value();
  }
  // The value is converted where the record set keeps it: a fill reads five
  // fields of every row.
  const mdb::Value* v;
  mdb::Status s = set->Peek(c, &v);
  if (!s.ok()) {
    last_error_ = s.ToString();
    return rt::Value::Error();
  }
  last_error_.clear();
  return ToRuntime(*v, set->column_types()[c]);
} catch (const std::bad_alloc&) {
  last_error_ = "out of memory";
  return rt::Value::Error();
}

void DatabaseUnit::CloseRecordSet(int rs) { record_sets_.erase(rs); }

bool DatabaseUnit::ExecuteSql(const rt::Text& sql, rt::Bytes* param) try {
  if (!db_) {
    last_error_ = "no database is open";
    return false;
  }
  std::u16string statement = text::Gb18030ToUtf16(sql);
  // The caller's bytes go to the engine and come back, without a copy.
  struct Lent {
    rt::Bytes* owner;
    mdb::Binary blob;
    ~Lent() {
      if (owner != nullptr) owner->swap(blob.bytes);
    }
  } lent{param, {}};
  if (param != nullptr) lent.blob.bytes.swap(*param);
  int64_t rows = 0;
  mdb::Status s = mdb::ExecuteStatement(db_.get(), statement, param ? &lent.blob : nullptr, &rows);
  if (!s.ok()) {
    last_error_ = s.ToString();
    return false;
  }
  last_error_.clear();
  return true;
} catch (const std::bad_alloc&) {
  last_error_ = "out of memory";
  return false;
}

}  // namespace vorta
