#include "mdb/relationships.h"

#include <algorithm>
#include <map>

#include "mdb/collation.h"
#include "mdb/database_impl.h"
#include "mdb/index_key.h"
#include "mdb/row_write.h"
#include "mdb/table_impl.h"

namespace mdb {

Status ReadRelationships(DatabaseImpl* db, std::vector<Relationship>* out) {
  out->clear();
  if (!db->catalog().FindTable(u"MSysRelationships")) return Status::OK();
  std::unique_ptr<TableImpl> t;
  MDB_RETURN_IF_ERROR(db->OpenTableImpl(u"MSysRelationships", &t));
  int c_ccol = t->ColumnIndex(u"ccolumn"), c_grbit = t->ColumnIndex(u"grbit"), c_icol = t->ColumnIndex(u"icolumn"),
      c_col = t->ColumnIndex(u"szColumn"), c_obj = t->ColumnIndex(u"szObject"),
      c_rcol = t->ColumnIndex(u"szReferencedColumn"), c_robj = t->ColumnIndex(u"szReferencedObject"),
      c_name = t->ColumnIndex(u"szRelationship");
  if (c_grbit < 0 || c_icol < 0 || c_col < 0 || c_obj < 0 || c_rcol < 0 || c_robj < 0 || c_name < 0)
    return Status::Corruption("MSysRelationships lacks its usual columns");
  (void)c_ccol;
  struct Part {
    int64_t icolumn;
    std::u16string col, rcol;
  };
  std::map<std::u16string, std::pair<Relationship, std::vector<Part>>> by_name;
  std::unique_ptr<Cursor> cur = t->Scan();
  while (cur->Next()) {
    Value v[8];
    int cols[] = {c_grbit, c_icol, c_col, c_obj, c_rcol, c_robj, c_name};
    for (int i = 0; i < 7; ++i) MDB_RETURN_IF_ERROR(cur->Get(cols[i], &v[i]));
    auto text = [](const Value& x) {
      auto* s = std::get_if<std::u16string>(&x);
      return s ? *s : std::u16string();
    };
    int64_t grbit = 0, icol = 0;
    ValueAsInt(v[0], &grbit);
    ValueAsInt(v[1], &icol);
    auto& entry = by_name[text(v[6])];
    Relationship& r = entry.first;
    r.name = text(v[6]);
    r.child = text(v[3]);
    r.parent = text(v[5]);
    r.enforced = (grbit & kRelNotEnforced) == 0;
    r.cascade_updates = (grbit & kRelCascadeUpdates) != 0;
    r.cascade_deletes = (grbit & kRelCascadeDeletes) != 0;
    entry.second.push_back({icol, text(v[2]), text(v[4])});
  }
  MDB_RETURN_IF_ERROR(cur->status());
  for (auto& [name, entry] : by_name) {
    std::sort(entry.second.begin(), entry.second.end(),
              [](const Part& a, const Part& b) { return a.icolumn < b.icolumn; });
    for (const Part& p : entry.second) {
      entry.first.child_columns.push_back(p.col);
      entry.first.parent_columns.push_back(p.rcol);
    }
    out->push_back(std::move(entry.first));
  }
  return Status::OK();
}

bool KeyValuesEqual(const Value& a, const Value& b, const SortOrder* order) {
  if (IsNull(a) || IsNull(b)) return false;
  auto* sa = std::get_if<std::u16string>(&a);
  auto* sb = std::get_if<std::u16string>(&b);
  if (sa && sb && order) return CompareByKeys(*sa, *sb, *order) == 0;
  if (sa || sb) return sa && sb && TextEquals(*sa, *sb);
  double da, db;
  if (ValueAsDouble(a, &da) && ValueAsDouble(b, &db)) return da == db;
  return a == b;
}

}  // namespace mdb
