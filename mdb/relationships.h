// Relationships between tables as the file stores them (MSysRelationships):
// which columns of a child table refer to which of its parent, whether
// integrity is enforced and whether deletes cascade.
#pragma once

#include <string>
#include <vector>

#include "mdb/mdb.h"
#include "mdb/pager.h"
#include "mdb/status.h"

namespace mdb {

class DatabaseImpl;

struct Relationship {
  std::u16string name;
  std::u16string parent, child;  // table names
  std::vector<std::u16string> parent_columns, child_columns;  // in pairs
  bool enforced = true;
  bool cascade_updates = false;
  bool cascade_deletes = false;
};

// grbit bits of MSysRelationships.
constexpr int64_t kRelNotEnforced = 0x00000002;
constexpr int64_t kRelCascadeUpdates = 0x00000100;
constexpr int64_t kRelCascadeDeletes = 0x00001000;

// Every relationship in the file (none when the file has no such table).
Status ReadRelationships(DatabaseImpl* db, std::vector<Relationship>* out);

struct SortOrder;

// Equality of key values as the relationship compares them: numbers by
// value whatever their kind, texts as their index keys under `order` do
// (null: without regard to case, by the fallback collation).
bool KeyValuesEqual(const Value& a, const Value& b, const SortOrder* order = nullptr);

}  // namespace mdb
