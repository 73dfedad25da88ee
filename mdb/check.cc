// Verifies a whole file: page ownership and usage maps, row counts, every
// index against its rows, long-value chains and relationships. Faults are
// collected, not returned: the caller prints them all.
#include <algorithm>
#include <map>
#include <set>

#include "mdb/check_keys.h"
#include "mdb/database_impl.h"
#include "mdb/index.h"
#include "mdb/jet4.h"
#include "mdb/lval_write.h"
#include "mdb/relationships.h"
#include "mdb/row_read.h"
#include "mdb/row_write.h"
#include "mdb/table_impl.h"
#include "mdb/usage_map.h"
#include "mdb/value_format.h"

namespace mdb {

using namespace jet4;

namespace {

std::string Utf8(const std::u16string& s) { return Utf16ToUtf8Lossy(s); }

class Checker {
 public:
  Checker(DatabaseImpl* db, std::vector<std::string>* faults, std::vector<std::string>* notes)
      : db_(db), pager_(db->pager()), faults_(faults), notes_(notes) {}

  Status Run() {
    for (const CatalogEntry& e : db_->catalog().entries()) {
      if (!e.is_table() || e.tdef_page() == 0) continue;
      std::unique_ptr<TableImpl> t;
      Status s = db_->OpenTableAt(e.tdef_page(), &t);
      if (!s.ok()) {
        Fault("table [" + Utf8(e.name) + "]: cannot read its definition: " + s.message());
        continue;
      }
      CheckTable(t.get());
    }
    CheckFreePages();
    CheckRelationships();
    CheckRelationshipIndexes();
    CheckPermissions();
    return Status::OK();
  }

 private:
  void Fault(std::string f) { faults_->push_back(std::move(f)); }
  void Note(std::string n) {
    if (notes_) notes_->push_back(std::move(n));
  }

  void Own(uint32_t page, const std::string& who) {
    auto [it, fresh] = owner_.emplace(page, who);
    if (!fresh && it->second != who)
      Fault("page " + std::to_string(page) + " is claimed by " + it->second + " and by " + who);
  }

  // Pages a map lists; faults for pages outside the file.
  std::vector<uint32_t> MapPagesOf(uint32_t ptr, const std::string& what) {
    std::vector<uint32_t> pages;
    if (ptr == 0) return pages;
    UsageMap m;
    Status s = UsageMap::Load(pager_, ptr, &m);
    if (s.ok()) s = m.Pages(pager_, UINT32_MAX, &pages);
    if (!s.ok()) {
      Fault(what + ": unreadable usage map: " + s.message());
      return {};
    }
    std::vector<uint32_t> inside;
    for (uint32_t p : pages) {
      if (p < pager_->page_count()) inside.push_back(p);
    }
    return inside;
  }

  void CheckTable(TableImpl* t) {
    const TableDef& def = t->def();
    std::string tname = "table [" + Utf8(t->name()) + "]";
    for (uint32_t p : def.pages) Own(p, tname + " definition");
    // Data pages.
    std::set<uint32_t> data_pages;
    for (uint32_t p : MapPagesOf(def.used_pages, tname)) {
      const uint8_t* b;
      if (!pager_->Get(p, &b).ok()) continue;
      if (b[0] == kPageData && Get32(b + kDataTdefOffset) == def.first_page) {
        data_pages.insert(p);
        Own(p, tname);
      }
    }
    for (uint32_t p : MapPagesOf(def.free_pages, tname + " free-space map")) {
      if (!data_pages.count(p)) {
        const uint8_t* b;
        if (pager_->Get(p, &b).ok() && b[0] == kPageData && Get32(b + kDataTdefOffset) == def.first_page)
          Fault(tname + ": page " + std::to_string(p) + " has free space listed but is not in the table's map");
      }
    }
    // Long-value column maps.
    for (const ColumnDef& c : def.columns) {
      if (!IsLongValueColumn(c)) continue;
      LongValueMaps maps;
      ReadLongValueMaps(def, c.number, &maps);
      for (uint32_t p : MapPagesOf(maps.used, tname)) {
        const uint8_t* b;
        if (!pager_->Get(p, &b).ok()) continue;
        if (b[0] == kPageData && Get32(b + kDataTdefOffset) == kLvalMarker) Own(p, tname + " long values");
      }
    }
    // Rows: count, long values, index keys.
    uint32_t live = 0;
    std::vector<std::pair<RowId, std::vector<Value>>> rows;
    for (uint32_t p : data_pages) {
      const uint8_t* b;
      if (!pager_->Get(p, &b).ok()) continue;
      uint16_t n = DataPageRowCount(b);
      for (uint16_t r = 0; r < n; ++r) {
        RowSlot slot;
        Status s = LocateRow(b, r, &slot);
        if (!s.ok()) {
          Fault(tname + ": page " + std::to_string(p) + ": " + s.message());
          break;
        }
        if (slot.deleted) continue;
        ++live;
        RowId id{p, r};
        std::string bytes;
        bool found = false;
        s = FetchRow(pager_, id, def.first_page, &bytes, &found);
        if (!s.ok() || !found) {
          Fault(tname + ": row " + std::to_string(p) + ":" + std::to_string(r) + " cannot be read: " + s.message());
          continue;
        }
        std::vector<Value> values;
        s = t->DecodeRow(bytes, &values);
        if (!s.ok()) {
          Fault(tname + ": row " + std::to_string(p) + ":" + std::to_string(r) + " cannot be decoded: " + s.message());
          continue;
        }
        CheckLongValues(t, bytes, id, tname);
        rows.emplace_back(id, std::move(values));
      }
    }
    CheckRowCount(def, live, tname);
    for (const RealIndexDef& r : def.real_indexes) CheckIndex(t, r, rows, tname);
  }

  // Access leaves the counts of its own system tables loose, and those of
  // user tables stale at times; the next write to the table corrects them.
  void CheckRowCount(const TableDef& def, uint32_t live, const std::string& tname) {
    if (live == def.row_count || def.table_type == kTableTypeSystem) return;
    Note(tname + ": definition says " + std::to_string(def.row_count) + " rows, pages hold " + std::to_string(live) +
         " (a count Access left stale; the next write to the table corrects it)");
  }

  void CheckTreeShape(const RealIndexDef& r, const std::string& iname) {
    std::vector<std::string> shape, notes;
    VerifyIndexTree(pager_, r.first_page, &shape, &notes);
    for (const std::string& f : shape) Fault(iname + ": " + f);
    for (const std::string& n : notes) Note(iname + ": " + n);
  }

  // A unique index holds no key twice (nulls aside); a required one, or a
  // primary key, has a value in every key column of every row.
  void CheckKeyRules(TableImpl* t, const RealIndexDef& r, const std::vector<std::pair<RowId, std::vector<Value>>>& rows,
                     const std::string& iname) {
    const TableDef& def = t->def();
    bool primary = false;
    for (const LogicalIndexDef& l : def.indexes)
      if (l.real_index == r.number && l.kind == kIndexKindPrimary) primary = true;
    bool unique = primary || (r.flags & kIndexFlagUnique), required = primary || (r.flags & kIndexFlagRequired);
    if (!unique && !required) return;
    size_t missing = 0, dups = 0;
    std::set<std::string> keys;
    for (const auto& [id, values] : rows) {
      bool has_null = KeyHasNull(def, r, values);
      if (has_null && required) ++missing;
      std::string key;
      if (!unique || has_null || !EncodeIndexKey(def, r, values, &key).ok()) continue;
      if (!keys.insert(key).second) ++dups;
    }
    if (missing) Fault(iname + ": " + std::to_string(missing) + " rows lack a value the index requires");
    if (dups) Fault(iname + ": " + std::to_string(dups) + " rows repeat a key of this unique index");
  }

  void CheckLongValues(TableImpl* t, const std::string& bytes, RowId id, const std::string& tname) {
    const TableDef& def = t->def();
    std::vector<FieldRef> refs;
    if (!CrackRow(def, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &refs).ok()) return;
    for (size_t i = 0; i < def.columns.size(); ++i) {
      if (!IsLongValueColumn(def.columns[i]) || refs[i].null) continue;
      std::string where = tname + " row " + std::to_string(id.page) + ":" + std::to_string(id.row) + " column [" +
                          Utf8(def.columns[i].column.name) + "]";
      Status s = WalkLongValue(pager_, std::string_view(bytes.data() + refs[i].offset, refs[i].size),
                               [&](uint32_t pg, uint16_t row, size_t) {
                                 uint64_t key = (uint64_t(pg) << 16) | row;
                                 auto [it, fresh] = lval_rows_.emplace(key, where);
                                 if (!fresh) Fault(where + ": long value shares page " + std::to_string(pg) + " row " +
                                                   std::to_string(row) + " with " + it->second);
                                 Own(pg, tname + " long values");
                                 return Status::OK();
                               });
      if (!s.ok()) Fault(where + ": " + s.message());
    }
  }

  void CheckIndex(TableImpl* t, const RealIndexDef& r, const std::vector<std::pair<RowId, std::vector<Value>>>& rows,
                  const std::string& tname) {
    const TableDef& def = t->def();
    std::string iname = tname + " index " + std::to_string(r.number);
    for (const LogicalIndexDef& l : def.indexes)
      if (l.real_index >= 0 && size_t(l.real_index) < def.real_indexes.size() &&
          def.real_indexes[l.real_index].number == r.number) {
        iname = tname + " index [" + Utf8(l.name) + "]";
        break;
      }
    std::vector<IndexEntry> entries;
    std::vector<uint32_t> pages;
    Status s = ReadIndex(pager_, r.first_page, &entries, &pages);
    if (!s.ok()) {
      Fault(iname + ": " + s.message());
      return;
    }
    for (uint32_t p : pages) Own(p, iname);
    CheckTreeShape(r, iname);
    CheckKeyRules(t, r, rows, iname);
    std::set<uint32_t> mapped;
    if (r.used_pages) {
      for (uint32_t p : MapPagesOf(r.used_pages, iname)) mapped.insert(p);
      for (uint32_t p : pages)
        if (!mapped.count(p)) Fault(iname + ": page " + std::to_string(p) + " is missing from the index's map");
    }
    for (size_t k = 1; k < entries.size(); ++k)
      if (entries[k].Bytes() < entries[k - 1].Bytes()) {
        Fault(iname + ": entries out of order");
        break;
      }
    CheckIndexKeys(def, r, entries, rows, iname, faults_);
  }

  void CheckFreePages() {
    UsageMap free_map;
    std::vector<uint32_t> pages;
    Status s = UsageMap::Load(pager_, kFreePageMapPtr, &free_map);
    if (s.ok()) s = free_map.Pages(pager_, pager_->page_count(), &pages);
    if (!s.ok()) {
      Fault("the database's free-page map: " + s.message());
      return;
    }
    for (uint32_t p : pages) {
      auto it = owner_.find(p);
      if (it != owner_.end()) Fault("page " + std::to_string(p) + " is listed free but belongs to " + it->second);
    }
  }

  // Other engines enforce a relationship through the foreign-key indexes of
  // its two tables: type 2 on the referencing table, 1 on the referenced
  // one, each naming the other's table and index, with the cascade flags of
  // the relationship. Reversed bytes make them enforce it backwards.
  void CheckRelationshipIndexes() {
    std::vector<Relationship> rels;
    if (!ReadRelationships(db_, &rels).ok()) return;  // reported by CheckRelationships
    for (const Relationship& r : rels) {
      if (!r.enforced) continue;
      std::string rname = "relationship " + Utf8(r.name);
      std::unique_ptr<TableImpl> parent, child;
      if (!db_->OpenTableImpl(r.parent, &parent).ok() || !db_->OpenTableImpl(r.child, &child).ok()) continue;
      auto find = [&](const TableDef& d, const TableDef& other) -> const LogicalIndexDef* {
        for (const LogicalIndexDef& l : d.indexes)
          if (l.kind == kIndexKindForeign && l.rel_table_page == other.first_page) {
            const RealIndexDef& real = d.real_indexes[size_t(l.real_index)];
            // The index's columns are the relationship's, in its order.
            const std::vector<std::u16string>& names = &d == &child->def() ? r.child_columns : r.parent_columns;
            bool same = real.columns.size() == names.size();
            for (size_t k = 0; same && k < names.size(); ++k) {
              const ColumnDef* c = d.FindColumn(names[k]);
              same = c && c->number == real.columns[k].column_number;
            }
            if (same) return &l;
          }
        return nullptr;
      };
      const LogicalIndexDef* in_child = find(child->def(), parent->def());
      const LogicalIndexDef* in_parent = find(parent->def(), child->def());
      if (!in_child || !in_parent) {
        Fault(rname + ": [" + Utf8(!in_child ? r.child : r.parent) + "] lacks the relationship's foreign-key index");
        continue;
      }
      if (in_child->rel_table_type != 2 || in_parent->rel_table_type != 1)
        Fault(rname + ": the foreign-key indexes name the wrong side as the referenced table");
      if (in_child->rel_index != in_parent->number || in_parent->rel_index != in_child->number)
        Fault(rname + ": the foreign-key indexes do not name each other");
      for (const LogicalIndexDef* l : {in_child, in_parent})
        if (l->cascade_deletes != r.cascade_deletes || l->cascade_updates != r.cascade_updates)
          Fault(rname + ": a foreign-key index's cascade flags differ from the relationship's");
    }
  }

  // Access gives every table permission rows (MSysACEs); a table without any
  // is one Access may refuse to open for lack of rights.
  void CheckPermissions() {
    if (!db_->catalog().FindTable(u"MSysACEs")) return;
    std::unique_ptr<TableImpl> aces;
    if (!db_->OpenTableImpl(u"MSysACEs", &aces).ok()) return Fault("MSysACEs cannot be read");
    int c_object = aces->ColumnIndex(u"ObjectId");
    if (c_object < 0) return Fault("MSysACEs lacks its ObjectId column");
    std::set<int64_t> with_rows;
    auto cur = aces->Scan();
    while (cur->Next()) {
      Value v;
      int64_t id;
      if (cur->Get(c_object, &v).ok() && ValueAsInt(v, &id)) with_rows.insert(id);
    }
    for (const CatalogEntry& e : db_->catalog().entries())
      if (e.type == CatalogEntry::kTypeTable && !e.is_system() && !with_rows.count(int32_t(e.id)))
        Fault("table [" + Utf8(e.name) + "] has no permission rows; Access may refuse to open it");
  }

  void CheckRelationships() {
    std::vector<Relationship> rels;
    Status s = ReadRelationships(db_, &rels);
    if (!s.ok()) {
      Fault("relationships: " + s.message());
      return;
    }
    for (const Relationship& r : rels) {
      if (!r.enforced) continue;
      std::string rname = "relationship " + Utf8(r.name);
      std::unique_ptr<TableImpl> parent, child;
      if (!db_->OpenTableImpl(r.parent, &parent).ok() || !db_->OpenTableImpl(r.child, &child).ok()) {
        Fault(rname + ": names a table the file lacks");
        continue;
      }
      std::vector<int> pc, cc;
      for (auto& n : r.parent_columns) pc.push_back(parent->ColumnIndex(n));
      for (auto& n : r.child_columns) cc.push_back(child->ColumnIndex(n));
      if (std::count(pc.begin(), pc.end(), -1) || std::count(cc.begin(), cc.end(), -1)) {
        Fault(rname + ": names a column its table lacks");
        continue;
      }
      std::vector<std::vector<Value>> keys;
      auto cur = parent->Scan();
      while (cur->Next()) {
        std::vector<Value> k(pc.size());
        for (size_t i = 0; i < pc.size(); ++i) cur->Get(pc[i], &k[i]);
        keys.push_back(std::move(k));
      }
      size_t orphans = 0;
      auto cc_cur = child->Scan();
      while (cc_cur->Next()) {
        std::vector<Value> k(cc.size());
        bool any_null = false;
        for (size_t i = 0; i < cc.size(); ++i) {
          cc_cur->Get(cc[i], &k[i]);
          any_null = any_null || IsNull(k[i]);
        }
        if (any_null) continue;
        bool found = false;
        for (const auto& pk : keys) {
          bool eq = true;
          for (size_t i = 0; i < k.size() && eq; ++i) eq = KeyValuesEqual(k[i], pk[i]);
          if (eq) {
            found = true;
            break;
          }
        }
        if (!found) ++orphans;
      }
      if (orphans) Fault(rname + ": " + std::to_string(orphans) + " rows of [" + Utf8(r.child) + "] have no parent in [" + Utf8(r.parent) + "]");
    }
  }

  DatabaseImpl* db_;
  Pager* pager_;
  std::vector<std::string>* faults_;
  std::vector<std::string>* notes_;
  std::map<uint32_t, std::string> owner_;
  std::map<uint64_t, std::string> lval_rows_;
};

}  // namespace

Status DatabaseImpl::Check(std::vector<std::string>* faults, std::vector<std::string>* notes) {
  MDB_RETURN_IF_ERROR(ReloadCatalog());
  MDB_RETURN_IF_ERROR(pager_->BeginRead());
  Checker c(this, faults, notes);
  Status s = c.Run();
  pager_->EndRead();
  // A commit that recovery had to leave unapplied leaves the file suspect.
  for (const std::string& note : pager_->notes()) faults->push_back(note);
  return s;
}

}  // namespace mdb
