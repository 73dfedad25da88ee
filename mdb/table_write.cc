// Writes to a table (insert, update, delete) and index seeks. Each statement
// runs in one pager write transaction unless the database's own transaction
// is open; any failure rolls the whole statement back.
#include <algorithm>
#include <cstring>
#include <functional>

#include "mdb/database_impl.h"
#include "mdb/index.h"
#include "mdb/jet4.h"
#include "mdb/lval_write.h"
#include "mdb/page_space.h"
#include "mdb/relationships.h"
#include "mdb/row_count.h"
#include "mdb/row_read.h"
#include "mdb/row_write.h"
#include "mdb/table_impl.h"
#include "mdb/text_codec_jet.h"
#include "mdb/usage_map.h"
#include "mdb/value_format.h"

namespace mdb {

using namespace jet4;

namespace {

// Long values up to this size stay inside the row.
constexpr size_t kInlineLongValue = 256;
constexpr int kMaxCascadeDepth = 16;

std::string Utf8(const std::u16string& s) { return Utf16ToUtf8Lossy(s); }

// Runs `body` as one statement: inside the database's transaction when one
// is open, otherwise in a write transaction of its own.
template <typename F>
Status Statement(DatabaseImpl* db, F body) {
  if (db->read_only()) return db->read_only_status();
  Pager* pager = db->pager();
  if (db->in_transaction() || pager->in_write()) return body();
  MDB_RETURN_IF_ERROR(pager->BeginWrite());
  Status s = body();
  if (!s.ok()) {
    pager->Rollback();
    return s;
  }
  s = pager->Commit();
  if (!s.ok()) pager->Rollback();
  return s;
}

// The place a row's bytes live: its slot, and where it moved to if it did.
struct RowPlace {
  uint32_t page = 0;
  uint16_t row = 0;
  bool moved = false;
  uint32_t to_page = 0;
  uint16_t to_row = 0;
};

Status LocateLive(Pager* pager, const TableDef& def, RowId id, RowPlace* place, std::string* bytes) {
  if (id.page == 0 || id.page >= pager->page_count()) return Status::NotFound("no such row");
  const uint8_t* p;
  MDB_RETURN_IF_ERROR(pager->Get(id.page, &p));
  if (p[0] != kPageData || Get32(p + kDataTdefOffset) != def.first_page) return Status::NotFound("no such row");
  RowSlot slot;
  MDB_RETURN_IF_ERROR(LocateRow(p, id.row, &slot));
  if (slot.deleted) return Status::NotFound("the row was deleted");
  place->page = id.page;
  place->row = id.row;
  if (slot.overflow) {
    if (slot.end - slot.start < 4) return Status::Corruption("moved-row pointer too short");
    uint32_t ptr = Get32(p + slot.start);
    place->moved = true;
    place->to_page = PtrPage(ptr);
    place->to_row = uint16_t(PtrRow(ptr));
    if (place->to_page == 0 || place->to_page >= pager->page_count())
      return Status::Corruption("moved-row pointer outside the file");
    const uint8_t* q;
    MDB_RETURN_IF_ERROR(pager->Get(place->to_page, &q));
    if (q[0] != kPageData || Get32(q + kDataTdefOffset) != def.first_page)
      return Status::Corruption("moved row on a page of another table");
    RowSlot s2;
    MDB_RETURN_IF_ERROR(LocateRow(q, place->to_row, &s2));
    bytes->assign(reinterpret_cast<const char*>(q) + s2.start, s2.end - s2.start);
    return Status::OK();
  }
  bytes->assign(reinterpret_cast<const char*>(p) + slot.start, slot.end - slot.start);
  return Status::OK();
}

Status EditPage(Pager* pager, uint32_t pg, const std::function<Status(uint8_t*)>& edit) {
  const uint8_t* p;
  MDB_RETURN_IF_ERROR(pager->Get(pg, &p));
  uint8_t buf[kPageSize];
  std::memcpy(buf, p, kPageSize);
  MDB_RETURN_IF_ERROR(edit(buf));
  return pager->Put(pg, buf);
}

}  // namespace

// The writer's view of one table inside a statement.
class TableWriter {
 public:
  TableWriter(TableImpl* t) : t_(t), pager_(t->pager()) {}

  // Re-reads the definition (a count Access left stale is put right by the
  // first write). Indexes are not judged here: a write that needs no new key
  // (a delete, an update of other columns) works whatever the index's kinds
  // and sort order; one that does fails when it makes one.
  Status Prepare() {
    MDB_RETURN_IF_ERROR(t_->ReloadDef());
    if (t_->db()->FirstWriteTo(t_->def().first_page))
      MDB_RETURN_IF_ERROR(CorrectRowCount(pager_, t_->mutable_def()));
    return Status::OK();
  }

  Status Insert(std::vector<Value> values, RowId* id, int64_t* autonumber, int depth);
  Status Update(RowId id, const std::vector<std::pair<int, Value>>& changes, int depth);
  Status Delete(RowId id, int depth);

 private:
  const TableDef& def() const { return t_->def(); }
  Status CheckRequired(const std::vector<Value>& values);
  Status EncodeRow(const std::vector<Value>& values, const std::vector<FieldBytes>* keep, std::string* row);
  Status StoreNewRow(const std::string& row, uint16_t flags, uint32_t* page, uint16_t* slot);
  struct IndexPlan {
    RealIndexDef* r;
    bool remove_old, insert_new;  // the row has an entry before / after
    std::string new_key;
  };
  Status PlanIndexes(const std::vector<Value>* old_values, const std::vector<Value>* new_values, const RowId* id,
                     std::vector<IndexPlan>* plans);
  Status ApplyIndexes(const std::vector<IndexPlan>& plans, const std::vector<Value>* old_values, RowId id);
  Status RemoveEntryOf(const RealIndexDef& r, const std::vector<Value>& values, RowId id);
  Status WriteTdefFields(int32_t row_delta, uint32_t autonumber);
  Status CheckParents(const std::vector<Value>& values, const std::vector<Value>* old_values);
  struct Cascade {
    std::unique_ptr<TableImpl> child;
    std::vector<RowId> rows;
    std::vector<std::pair<int, Value>> changes;  // an update's new key; none: a delete
  };
  Status HandleChildren(const std::vector<Value>& values, bool deleting, const std::vector<Value>* new_values,
                        int depth, std::vector<Cascade>* cascades);
  Status RunCascades(std::vector<Cascade>* cascades, int depth);
  Status LongValueMapsFor(const ColumnDef& c, LongValueMaps* maps) {
    return ReadLongValueMaps(def(), c.number, maps);
  }

  TableImpl* t_;
  Pager* pager_;
};

Status TableWriter::CheckRequired(const std::vector<Value>& values) {
  for (size_t i = 0; i < def().columns.size(); ++i) {
    const ColumnDef& c = def().columns[i];
    if (c.column.required && c.column.type != ColumnType::kBool && IsNull(values[i]))
      return Status::Constraint("column [" + Utf8(c.column.name) + "] requires a value");
  }
  return Status::OK();
}

Status TableWriter::EncodeRow(const std::vector<Value>& values, const std::vector<FieldBytes>* keep,
                              std::string* row) {
  std::vector<FieldBytes> fields(def().columns.size());
  for (size_t i = 0; i < def().columns.size(); ++i) {
    const ColumnDef& c = def().columns[i];
    if (keep && !(*keep)[i].bytes.empty() && IsLongValueColumn(c)) {
      fields[i] = (*keep)[i];
      continue;
    }
    if (IsLongValueColumn(c)) {
      if (IsNull(values[i])) continue;
      std::string text_bytes;
      std::string_view data;  // a byte block is written from where it lies
      if (auto* s = std::get_if<std::u16string>(&values[i])) {
        if (c.column.type != ColumnType::kMemo) return Status::InvalidArgument("column [" + Utf8(c.column.name) + "] expects binary data");
        if (!JetTextStorable(*s))
          return Status::InvalidArgument("column [" + Utf8(c.column.name) +
                                         "] cannot hold a text that starts with U+FEFF and has U+xx00 in it");
        text_bytes = EncodeJetText(*s, false);
        data = text_bytes;
      } else if (auto* b = std::get_if<Binary>(&values[i])) {
        if (c.column.type != ColumnType::kOle) return Status::InvalidArgument("column [" + Utf8(c.column.name) + "] expects text");
        data = b->bytes;
      } else {
        return Status::InvalidArgument("column [" + Utf8(c.column.name) + "] expects a long value");
      }
      LongValueMaps maps;
      MDB_RETURN_IF_ERROR(LongValueMapsFor(c, &maps));
      fields[i].null = false;
      MDB_RETURN_IF_ERROR(WriteLongValue(pager_, maps, data, kInlineLongValue, &fields[i].bytes));
      continue;
    }
    MDB_RETURN_IF_ERROR(EncodeValue(c, values[i], &fields[i]));
  }
  return BuildRow(def(), fields, row);
}

Status TableWriter::StoreNewRow(const std::string& row, uint16_t flags, uint32_t* page, uint16_t* slot) {
  UsageMap used, free_map;
  MDB_RETURN_IF_ERROR(UsageMap::Load(pager_, def().used_pages, &used));
  MDB_RETURN_IF_ERROR(UsageMap::Load(pager_, def().free_pages, &free_map));
  return PlaceRow(pager_, &used, &free_map, def().first_page, row, flags, page, slot);
}

namespace {

// The logical index names a real index backs, for messages.
std::string IndexName(const TableDef& d, const RealIndexDef& r) {
  std::string names;
  for (const LogicalIndexDef& l : d.indexes)
    if (l.real_index >= 0 && size_t(l.real_index) < d.real_indexes.size() && &d.real_indexes[l.real_index] == &r)
      names += (names.empty() ? "[" : ", [") + Utf8(l.name) + "]";
  return names.empty() ? std::to_string(r.number) : names;
}

// Whether any of the index's columns holds another value in `b` than in `a`.
bool KeyColumnsDiffer(const TableDef& d, const RealIndexDef& r, const std::vector<Value>& a,
                      const std::vector<Value>& b) {
  for (const auto& ic : r.columns)
    for (size_t i = 0; i < d.columns.size(); ++i)
      if (d.columns[i].number == ic.column_number && !(a[i] == b[i])) return true;
  return false;
}

}  // namespace

// An index's entries know their rows: the entry of row `id` is looked for
// under the key its values give, and when that key cannot be made or is not
// the one stored (another engine's, or another form Access has written), by
// walking the index's leaves.
Status TableWriter::RemoveEntryOf(const RealIndexDef& r, const std::vector<Value>& values, RowId id) {
  IndexEntry want;
  want.page = id.page;
  want.row = uint8_t(id.row);
  if (EncodeIndexKey(def(), r, values, &want.key).ok()) {
    // Not there under that key: the index fails before it changes anything.
    Status s = IndexRemove(pager_, r.used_pages, r.first_page, want);
    if (s.code() != Status::Code::kCorruption) return s;
  }
  bool found = false;
  MDB_RETURN_IF_ERROR(IndexScanFrom(pager_, r.first_page, std::string(), [&](const IndexEntry& e, bool* stop) {
    if (e.page == want.page && e.row == want.row) {
      want = e;
      found = *stop = true;
    }
    return Status::OK();
  }));
  if (!found)
    return Status::Corruption("index " + IndexName(def(), r) + " of table [" + Utf8(t_->name()) +
                              "] has no entry for row " + std::to_string(id.page) + ":" + std::to_string(id.row));
  return IndexRemove(pager_, r.used_pages, r.first_page, want);
}

// Inserts add an entry to every index, deletes remove one from every index,
// and updates touch only the indexes whose columns change. Every new key and
// every unique check comes first (PlanIndexes, before the statement changes
// anything), so a refusal leaves the file as it was, inside a transaction
// too: a key that cannot be made (a character whose key the column's sort
// order does not show) names the table, the index and the character.
Status TableWriter::PlanIndexes(const std::vector<Value>* old_values, const std::vector<Value>* new_values,
                                const RowId* id, std::vector<IndexPlan>* plans) {
  plans->clear();
  TableDef* d = t_->mutable_def();
  for (RealIndexDef& r : d->real_indexes) {
    // An index that ignores nulls has no entry for a row without a key.
    bool had = old_values && !IndexSkipsRow(*d, r, *old_values);
    bool has = new_values && !IndexSkipsRow(*d, r, *new_values);
    if (!had && !has) continue;
    if (had && has && !KeyColumnsDiffer(*d, r, *old_values, *new_values)) continue;
    IndexPlan plan{&r, had, has, {}};
    if (has) {
      Status s = EncodeIndexKey(*d, r, *new_values, &plan.new_key);
      if (!s.ok()) {
        std::string where = "table [" + Utf8(t_->name()) + "], index " + IndexName(*d, r) + ": ";
        return s.code() == Status::Code::kNotSupported ? Status::NotSupported(where + s.message())
                                                        : Status::InvalidArgument(where + s.message());
      }
      bool is_primary = false;
      for (const LogicalIndexDef& l : d->indexes)
        if (&d->real_indexes[l.real_index] == &r && l.kind == kIndexKindPrimary) is_primary = true;
      bool has_null = KeyHasNull(*d, r, *new_values);
      if (has_null && (is_primary || (r.flags & kIndexFlagRequired)))
        return Status::Constraint("a key column of table [" + Utf8(t_->name()) + "] requires a value");
      if ((is_primary || (r.flags & kIndexFlagUnique)) && !has_null) {
        // The first entry at or after (key, lowest row pointer) that is not
        // the row's own has this key if any other entry does.
        IndexEntry lowest;
        lowest.key = plan.new_key;
        bool dup = false;
        MDB_RETURN_IF_ERROR(IndexScanFrom(pager_, r.first_page, lowest.Bytes(), [&](const IndexEntry& e, bool* stop) {
          if (id && e.page == id->page && e.row == uint8_t(id->row) && e.key == plan.new_key) return Status::OK();
          dup = e.key == plan.new_key;
          *stop = true;
          return Status::OK();
        }));
        if (dup)
          return Status::Constraint("the value would duplicate a unique key of table [" + Utf8(t_->name()) + "]");
      }
    }
    plans->push_back(std::move(plan));
  }
  return Status::OK();
}

Status TableWriter::ApplyIndexes(const std::vector<IndexPlan>& plans, const std::vector<Value>* old_values,
                                 RowId id) {
  TableDef* d = t_->mutable_def();
  for (const IndexPlan& plan : plans) {
    if (plan.remove_old) MDB_RETURN_IF_ERROR(RemoveEntryOf(*plan.r, *old_values, id));
    if (!plan.insert_new) continue;
    IndexEntry me;
    me.page = id.page;
    me.row = uint8_t(id.row);
    me.key = plan.new_key;
    bool new_key_added = false;
    MDB_RETURN_IF_ERROR(IndexInsert(pager_, plan.r->used_pages, plan.r->first_page, me, &new_key_added));
    if (new_key_added) MDB_RETURN_IF_ERROR(CountNewKey(pager_, d, *plan.r));
  }
  return Status::OK();
}

Status TableWriter::WriteTdefFields(int32_t row_delta, uint32_t autonumber) {
  TableDef* d = t_->mutable_def();
  // Access leaves some counts below the rows a table holds: never below 0.
  d->row_count = uint32_t(std::max<int64_t>(0, int64_t(d->row_count) + row_delta));
  d->next_autonumber = autonumber;
  uint8_t* b = reinterpret_cast<uint8_t*>(d->bytes.data());
  Put32(b + kTdefRowCountOffset, d->row_count);
  Put32(b + kTdefAutonumberOffset, d->next_autonumber);
  return EditPage(pager_, d->first_page, [&](uint8_t* p) {
    Put32(p + kTdefRowCountOffset, d->row_count);
    Put32(p + kTdefAutonumberOffset, d->next_autonumber);
    return Status::OK();
  });
}

namespace {

struct RelSide {
  Relationship rel;
  std::vector<int> my_cols, other_cols;
};

Status ColumnsOf(const TableImpl* t, const std::vector<std::u16string>& names, std::vector<int>* out) {
  out->clear();
  for (const auto& n : names) {
    int i = t->ColumnIndex(n);
    if (i < 0) return Status::Corruption("a relationship names column [" + Utf8(n) + "] that table [" + Utf8(t->name()) + "] lacks");
    out->push_back(i);
  }
  return Status::OK();
}

// Rows of `t` whose columns `cols` equal `key` (texts as their keys compare):
// through an index that starts with those columns when there is one, else by
// a scan.
Status MatchingRows(TableImpl* t, const std::vector<int>& cols, const std::vector<Value>& key,
                    std::vector<RowId>* out, size_t limit) {
  out->clear();
  std::unique_ptr<Cursor> cur;
  for (size_t i = 0; i < t->indexes().size() && !cur; ++i) {
    const IndexInfo& info = t->indexes()[i];
    if (info.columns.size() < cols.size()) continue;
    bool leads = true;
    for (size_t k = 0; k < cols.size(); ++k) leads = leads && info.columns[k].column == cols[k];
    if (!leads) continue;
    Status s = t->Seek(int(i), key, &cur);
    if (s.code() == Status::Code::kNotSupported) cur.reset();  // a key the engine cannot encode
    else MDB_RETURN_IF_ERROR(s);
  }
  if (!cur) cur = t->Scan();
  std::vector<SortOrder> orders;
  for (int c : cols) orders.push_back(ColumnSortOrder(t->def().columns[c]));
  while (cur->Next()) {
    bool all = true;
    for (size_t k = 0; k < cols.size() && all; ++k) {
      Value v;
      MDB_RETURN_IF_ERROR(cur->Get(cols[k], &v));
      all = KeyValuesEqual(v, key[k], &orders[k]);
    }
    if (all) {
      out->push_back(cur->row_id());
      if (out->size() >= limit) break;
    }
  }
  return cur->status();
}

}  // namespace

Status TableWriter::CheckParents(const std::vector<Value>& values, const std::vector<Value>* old_values) {
  std::vector<Relationship> rels;
  MDB_RETURN_IF_ERROR(ReadRelationships(t_->db(), &rels));
  for (const Relationship& r : rels) {
    if (!r.enforced || !EqualsIgnoreCase(r.child, t_->name())) continue;
    std::vector<int> mine;
    MDB_RETURN_IF_ERROR(ColumnsOf(t_, r.child_columns, &mine));
    std::vector<Value> key;
    bool any_null = false, changed = old_values == nullptr;
    for (int c : mine) {
      key.push_back(values[c]);
      any_null = any_null || IsNull(values[c]);
      if (old_values && !(values[c] == (*old_values)[c])) changed = true;
    }
    if (any_null || !changed) continue;  // a null foreign key refers to nothing
    std::unique_ptr<TableImpl> parent;
    MDB_RETURN_IF_ERROR(t_->db()->OpenTableImpl(r.parent, &parent));
    std::vector<int> theirs;
    MDB_RETURN_IF_ERROR(ColumnsOf(parent.get(), r.parent_columns, &theirs));
    std::vector<RowId> found;
    MDB_RETURN_IF_ERROR(MatchingRows(parent.get(), theirs, key, &found, 1));
    if (found.empty())
      return Status::Constraint("no row in [" + Utf8(r.parent) + "] matches this row of [" + Utf8(t_->name()) +
                                "] (relationship " + Utf8(r.name) + ")");
  }
  return Status::OK();
}

// Rows of other tables that refer to this one. A relationship that refuses
// refuses here, before anything changes; the ones that cascade come back in
// *cascades: a delete's before its row goes (children first), an update's
// after its row holds the new key (so the children find their parent).
Status TableWriter::HandleChildren(const std::vector<Value>& values, bool deleting,
                                   const std::vector<Value>* new_values, int depth,
                                   std::vector<Cascade>* cascades) {
  std::vector<Relationship> rels;
  MDB_RETURN_IF_ERROR(ReadRelationships(t_->db(), &rels));
  for (const Relationship& r : rels) {
    if (!r.enforced || !EqualsIgnoreCase(r.parent, t_->name())) continue;
    std::vector<int> mine;
    MDB_RETURN_IF_ERROR(ColumnsOf(t_, r.parent_columns, &mine));
    std::vector<Value> key;
    bool changed = deleting;
    for (int c : mine) {
      key.push_back(values[c]);
      if (new_values && !((*new_values)[c] == values[c])) changed = true;
    }
    if (!changed) continue;
    Cascade c;
    MDB_RETURN_IF_ERROR(t_->db()->OpenTableImpl(r.child, &c.child));
    std::vector<int> theirs;
    MDB_RETURN_IF_ERROR(ColumnsOf(c.child.get(), r.child_columns, &theirs));
    MDB_RETURN_IF_ERROR(MatchingRows(c.child.get(), theirs, key, &c.rows, SIZE_MAX));
    if (c.rows.empty()) continue;
    if (deleting ? !r.cascade_deletes : !r.cascade_updates)
      return Status::Constraint("rows of [" + Utf8(r.child) + "] refer to this row of [" + Utf8(t_->name()) +
                                "] (relationship " + Utf8(r.name) + ")");
    if (depth >= kMaxCascadeDepth) return Status::Constraint("cascading changes nest too deep");
    if (!deleting)
      for (size_t k = 0; k < mine.size(); ++k) c.changes.emplace_back(theirs[k], (*new_values)[mine[k]]);
    cascades->push_back(std::move(c));
  }
  return Status::OK();
}

Status TableWriter::RunCascades(std::vector<Cascade>* cascades, int depth) {
  for (Cascade& c : *cascades) {
    TableWriter cw(c.child.get());
    MDB_RETURN_IF_ERROR(cw.Prepare());
    for (RowId id : c.rows) {
      if (c.changes.empty()) MDB_RETURN_IF_ERROR(cw.Delete(id, depth + 1));
      else MDB_RETURN_IF_ERROR(cw.Update(id, c.changes, depth + 1));
    }
  }
  return Status::OK();
}

Status TableWriter::Insert(std::vector<Value> values, RowId* id, int64_t* autonumber, int depth) {
  if (values.size() != def().columns.size())
    return Status::InvalidArgument("one value per column expected (" + std::to_string(def().columns.size()) + ")");
  uint32_t next_auto = def().next_autonumber;
  for (size_t i = 0; i < def().columns.size(); ++i) {
    const ColumnDef& c = def().columns[i];
    if (!c.column.autonumber) continue;
    if (IsNull(values[i])) {
      if (next_auto >= uint32_t(INT32_MAX)) return Status::Constraint("auto-numbers are used up");
      ++next_auto;
      values[i] = int64_t(next_auto);
      if (autonumber) *autonumber = next_auto;
    } else {
      int64_t v = 0;
      if (!ValueAsInt(values[i], &v)) return Status::InvalidArgument("auto-number column expects a number");
      if (v > int64_t(next_auto) && v <= INT32_MAX) next_auto = uint32_t(v);
      if (autonumber) *autonumber = v;
    }
  }
  MDB_RETURN_IF_ERROR(CheckRequired(values));
  MDB_RETURN_IF_ERROR(CheckParents(values, nullptr));
  std::vector<IndexPlan> plans;
  MDB_RETURN_IF_ERROR(PlanIndexes(nullptr, &values, nullptr, &plans));
  std::string row;
  MDB_RETURN_IF_ERROR(EncodeRow(values, nullptr, &row));
  uint32_t page;
  uint16_t slot;
  MDB_RETURN_IF_ERROR(StoreNewRow(row, 0, &page, &slot));
  RowId rid{page, slot};
  MDB_RETURN_IF_ERROR(ApplyIndexes(plans, nullptr, rid));
  MDB_RETURN_IF_ERROR(WriteTdefFields(+1, next_auto));
  if (id) *id = rid;
  (void)depth;
  return Status::OK();
}

Status TableWriter::Update(RowId id, const std::vector<std::pair<int, Value>>& changes, int depth) {
  RowPlace place;
  std::string bytes;
  MDB_RETURN_IF_ERROR(LocateLive(pager_, def(), id, &place, &bytes));
  std::vector<Value> old_values;
  MDB_RETURN_IF_ERROR(t_->DecodeRow(bytes, &old_values));
  std::vector<Value> values = old_values;
  std::vector<bool> touched(values.size(), false);
  for (const auto& [col, v] : changes) {
    if (col < 0 || size_t(col) >= values.size()) return Status::InvalidArgument("no such column");
    if (def().columns[col].column.autonumber && !(v == values[col]))
      return Status::InvalidArgument("an auto-number column cannot be changed");
    values[col] = v;
    touched[col] = true;
  }
  MDB_RETURN_IF_ERROR(CheckRequired(values));
  MDB_RETURN_IF_ERROR(CheckParents(values, &old_values));
  std::vector<Cascade> cascades;
  MDB_RETURN_IF_ERROR(HandleChildren(old_values, false, &values, depth, &cascades));
  std::vector<IndexPlan> plans;
  MDB_RETURN_IF_ERROR(PlanIndexes(&old_values, &values, &id, &plans));
  // Long values not changed keep their stored field; changed ones are freed
  // and written anew.
  const uint8_t* rb = reinterpret_cast<const uint8_t*>(bytes.data());
  std::vector<FieldRef> refs;
  MDB_RETURN_IF_ERROR(CrackRow(def(), rb, bytes.size(), &refs));
  std::vector<FieldBytes> keep(values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    const ColumnDef& c = def().columns[i];
    if (!IsLongValueColumn(c) || refs[i].null) continue;
    std::string field(bytes.data() + refs[i].offset, refs[i].size);
    if (touched[i]) {
      LongValueMaps maps;
      MDB_RETURN_IF_ERROR(LongValueMapsFor(c, &maps));
      MDB_RETURN_IF_ERROR(FreeLongValue(pager_, maps, field));
    } else {
      keep[i].null = false;
      keep[i].bytes = field;
    }
  }
  std::string row;
  MDB_RETURN_IF_ERROR(EncodeRow(values, &keep, &row));
  // In place when it fits; otherwise the row moves and its slot keeps a
  // pointer, so index entries and row ids stay valid.
  uint32_t home_page = place.moved ? place.to_page : place.page;
  uint16_t home_row = place.moved ? place.to_row : place.row;
  uint16_t home_flags = place.moved ? kRowDeleted : 0;
  Status s = EditPage(pager_, home_page, [&](uint8_t* p) { return ReplaceRow(p, home_row, row, home_flags); });
  if (s.IsNotFound()) {
    if (place.moved)
      MDB_RETURN_IF_ERROR(EditPage(pager_, place.to_page, [&](uint8_t* p) { return DeleteRow(p, place.to_row); }));
    uint32_t np;
    uint16_t nr;
    // Hidden from scans: the original slot is the row's one visible place.
    MDB_RETURN_IF_ERROR(StoreNewRow(row, kRowDeleted, &np, &nr));
    std::string ptr(4, '\0');
    Put32(reinterpret_cast<uint8_t*>(ptr.data()), MakePtr(np, nr));
    MDB_RETURN_IF_ERROR(
        EditPage(pager_, place.page, [&](uint8_t* p) { return ReplaceRow(p, place.row, ptr, kRowOverflow); }));
  } else if (!s.ok()) {
    return s;
  }
  MDB_RETURN_IF_ERROR(ApplyIndexes(plans, &old_values, id));
  return RunCascades(&cascades, depth);
}

Status TableWriter::Delete(RowId id, int depth) {
  RowPlace place;
  std::string bytes;
  MDB_RETURN_IF_ERROR(LocateLive(pager_, def(), id, &place, &bytes));
  std::vector<Value> values;
  MDB_RETURN_IF_ERROR(t_->DecodeRow(bytes, &values));
  std::vector<Cascade> cascades;
  MDB_RETURN_IF_ERROR(HandleChildren(values, true, nullptr, depth, &cascades));
  MDB_RETURN_IF_ERROR(RunCascades(&cascades, depth));
  const uint8_t* rb = reinterpret_cast<const uint8_t*>(bytes.data());
  std::vector<FieldRef> refs;
  MDB_RETURN_IF_ERROR(CrackRow(def(), rb, bytes.size(), &refs));
  for (size_t i = 0; i < values.size(); ++i) {
    const ColumnDef& c = def().columns[i];
    if (!IsLongValueColumn(c) || refs[i].null) continue;
    LongValueMaps maps;
    MDB_RETURN_IF_ERROR(LongValueMapsFor(c, &maps));
    MDB_RETURN_IF_ERROR(FreeLongValue(pager_, maps, std::string_view(bytes.data() + refs[i].offset, refs[i].size)));
  }
  UsageMap free_map;
  MDB_RETURN_IF_ERROR(UsageMap::Load(pager_, def().free_pages, &free_map));
  if (place.moved) {
    MDB_RETURN_IF_ERROR(EditPage(pager_, place.to_page, [&](uint8_t* p) { return DeleteRow(p, place.to_row); }));
    MDB_RETURN_IF_ERROR(free_map.Set(pager_, place.to_page, true));
  }
  MDB_RETURN_IF_ERROR(EditPage(pager_, place.page, [&](uint8_t* p) { return DeleteRow(p, place.row); }));
  MDB_RETURN_IF_ERROR(free_map.Set(pager_, place.page, true));
  std::vector<IndexPlan> plans;
  MDB_RETURN_IF_ERROR(PlanIndexes(&values, nullptr, &id, &plans));
  MDB_RETURN_IF_ERROR(ApplyIndexes(plans, &values, id));
  return WriteTdefFields(-1, def().next_autonumber);
}

Status TableImpl::Insert(const std::vector<Value>& values, RowId* id, int64_t* autonumber) {
  return Statement(db_, [&]() -> Status {
    TableWriter w(this);
    MDB_RETURN_IF_ERROR(w.Prepare());
    return w.Insert(values, id, autonumber, 0);
  });
}

Status TableImpl::Update(RowId id, const std::vector<std::pair<int, Value>>& changes, RowId* moved_to) {
  Status s = Statement(db_, [&]() -> Status {
    TableWriter w(this);
    MDB_RETURN_IF_ERROR(w.Prepare());
    return w.Update(id, changes, 0);
  });
  if (s.ok() && moved_to) *moved_to = id;  // the row keeps its id even when its bytes move
  return s;
}

Status TableImpl::Delete(RowId id) {
  return Statement(db_, [&]() -> Status {
    TableWriter w(this);
    MDB_RETURN_IF_ERROR(w.Prepare());
    return w.Delete(id, 0);
  });
}


Status TableImpl::Seek(int index, const std::vector<Value>& key, std::unique_ptr<Cursor>* out) {
  if (index < 0 || size_t(index) >= def_.indexes.size()) return Status::InvalidArgument("no such index");
  MDB_RETURN_IF_ERROR(pager()->BeginRead());
  Status s = [&]() -> Status {
    MDB_RETURN_IF_ERROR(ReloadDef());
    const RealIndexDef& r = def_.real_indexes[def_.indexes[index].real_index];
    if (key.size() > r.columns.size()) return Status::InvalidArgument("more key values than index columns");
    // The key of the leading columns: encode a row holding only those values.
    RealIndexDef lead = r;
    lead.columns.resize(key.size());
    std::vector<Value> row(def_.columns.size());
    const ColumnDef* last = nullptr;
    for (size_t k = 0; k < key.size(); ++k)
      for (size_t i = 0; i < def_.columns.size(); ++i)
        if (def_.columns[i].number == r.columns[k].column_number) {
          row[i] = key[k];
          last = &def_.columns[i];
        }
    std::string prefix;
    MDB_RETURN_IF_ERROR(EncodeIndexKey(def_, lead, row, &prefix));
    // A text's stored key may hold its accents and marks in another form
    // than ours (Access has written two): look from the end of its letters
    // and keep the rows whose own key is ours.
    std::string from = prefix;
    bool text = last && !key.empty() && !IsNull(key.back()) &&
                (last->column.type == ColumnType::kText || last->column.type == ColumnType::kMemo);
    if (text) {
      size_t start = 0;
      if (key.size() > 1) {
        RealIndexDef before = r;
        before.columns.resize(key.size() - 1);
        std::string head;
        MDB_RETURN_IF_ERROR(EncodeIndexKey(def_, before, row, &head));
        start = head.size();
      }
      char end_of_letters = r.columns[key.size() - 1].ascending ? '\x01' : '\xFE';
      size_t at = prefix.find(end_of_letters, start + 1);
      if (at != std::string::npos) from = prefix.substr(0, at + 1);
    }
    std::vector<RowId> ids;
    MDB_RETURN_IF_ERROR(IndexScanFrom(pager(), r.first_page, from, [&](const IndexEntry& e, bool* stop) {
      if (e.key.compare(0, from.size(), from) != 0) *stop = true;
      else ids.push_back(RowId{e.page, e.row});
      return Status::OK();
    }));
    if (from.size() != prefix.size()) {
      std::vector<RowId> keep;
      for (RowId id : ids) {
        std::string bytes, own;
        std::vector<Value> values;
        MDB_RETURN_IF_ERROR(ReadRowBytes(id, &bytes));
        MDB_RETURN_IF_ERROR(DecodeRow(bytes, &values));
        if (EncodeIndexKey(def_, lead, values, &own).ok() && own == prefix) keep.push_back(id);
      }
      ids = std::move(keep);
    }
    *out = Fetch(std::move(ids));
    return Status::OK();
  }();
  pager()->EndRead();
  return s;
}

}  // namespace mdb
