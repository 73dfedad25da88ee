// Helpers for the storage tests that work on the program's database: its
// tables, recognisable photos and a dump of every row.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mdb/mdb.h"

namespace storage_test {

using mdb::Binary;
using mdb::Database;
using mdb::Env;
using mdb::RowId;
using mdb::Status;
using mdb::Table;
using mdb::Value;

inline const std::u16string kPassword = u"580274";
inline const std::u16string kPersons = u"用户信息表";
inline const std::u16string kLog = u"操作日志";
inline const std::u16string kUsers = u"用户表";

inline std::string Photo(size_t n, int seed) {
  std::string s(n, '\0');
  uint32_t x = 2463534242u + seed;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    s[i] = static_cast<char>(x);
  }
  return s;
}

inline std::string Show(const Value& v) {
  switch (v.index()) {
    case 0: return "NULL";
    case 1: return std::get<bool>(v) ? "true" : "false";
    case 2: return std::to_string(std::get<int64_t>(v));
    case 3: return std::to_string(std::get<double>(v));
    case 5: return "D" + std::to_string(std::get<mdb::Date>(v).oa);
    case 6: {
      std::string out;
      for (char16_t c : std::get<std::u16string>(v)) out += std::to_string(int(c)) + ".";
      return out;
    }
    case 7: {
      const std::string& b = std::get<Binary>(v).bytes;
      return "B" + std::to_string(b.size()) + ":" + std::to_string(std::hash<std::string>()(b));
    }
    default: return "?" + std::to_string(v.index());
  }
}

// Every row of the program's three tables, in a form that ignores storage
// order. Row counts kept in the tables must agree with the rows found.
inline Status Dump(Database* db, std::string* out) {
  out->clear();
  for (const std::u16string& name : {kPersons, kLog, kUsers}) {
    std::unique_ptr<Table> t;
    MDB_RETURN_IF_ERROR(db->OpenTable(name, &t));
    std::vector<std::string> rows;
    auto c = t->Scan();
    while (c->Next()) {
      std::string r;
      for (size_t i = 0; i < t->columns().size(); ++i) {
        Value v;
        MDB_RETURN_IF_ERROR(c->Get(static_cast<int>(i), &v));
        r += Show(v) + "|";
      }
      rows.push_back(r);
    }
    MDB_RETURN_IF_ERROR(c->status());
    if (t->row_count() != rows.size())
      return Status::Corruption("row count " + std::to_string(t->row_count()) + " but " +
                                std::to_string(rows.size()) + " rows");
    std::sort(rows.begin(), rows.end());
    *out += "table " + std::to_string(rows.size()) + "\n";
    for (auto& r : rows) *out += r + "\n";
  }
  return Status::OK();
}

inline Status FindRow(Table* t, int column, const Value& want, RowId* id) {
  auto c = t->Scan();
  while (c->Next()) {
    Value v;
    MDB_RETURN_IF_ERROR(c->Get(column, &v));
    if (v == want) {
      *id = c->row_id();
      return Status::OK();
    }
  }
  MDB_RETURN_IF_ERROR(c->status());
  return Status::NotFound("row not found");
}

inline std::vector<Value> Person(const std::u16string& name, const std::string& photo, size_t profile_len = 4) {
  return {Value(), name, true, std::u16string(profile_len, u'简'), mdb::Date{30000.5}, std::u16string(u"管理员"),
          Binary{photo}};
}


inline Status InTable(Database* db, const std::u16string& name, const std::function<Status(Table*)>& f) {
  std::unique_ptr<Table> t;
  MDB_RETURN_IF_ERROR(db->OpenTable(name, &t));
  return f(t.get());
}


inline Status OpenDb(Env* env, const std::string& path, std::unique_ptr<Database>* db) {
  mdb::OpenOptions o;
  o.password = kPassword;
  return Database::Open(env, path, o, db);
}

}  // namespace storage_test
