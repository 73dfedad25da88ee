// New files with the program's schema: read by mdbtools, written with
// photos, Chinese text and large values, relationships enforced, checked.
#include <map>
#include <random>

#include "mdb/catalog.h"
#include "mdb/index.h"
#include "mdb/relationships.h"
#include "mdb/jet4.h"
#include "mdb/pager.h"
#include "mdb/sql.h"
#include "mdb/tdef.h"

#include "tests/mdb_write/helpers.h"

using namespace writetest;
using mdb::Value;

namespace {

std::string NewDb(const std::string& name, const std::u16string& password = u"580274") {
  std::string path = Scratch(name);
  mdb::CreateOptions o;
  o.password = password;
  mdb::Status s = mdb::Database::Create(mdb::Env::Default(), path, o);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return path;
}

std::string Bytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = char(rng());
  return s;
}

TEST(Create, ProgramSchemaReadableByMdbtools) {
  std::string path = NewDb("create.mdb");
  EXPECT_CLEAN(path, u"580274");
  std::string tables = RunCommand("mdb-tables -1 '" + path + "'");
  EXPECT_EQ(tables, Utf8(u"用户信息表\n操作日志\n用户表\n"));
  EXPECT_EQ(MdbExport(path, Utf8(u"用户表")), (std::vector<std::string>{Utf8(u"1,\"张三\",\"580274\"")}));
  auto rels = MdbExport(path, "MSysRelationships");
  ASSERT_EQ(rels.size(), 1u);
  EXPECT_NE(rels[0].find(Utf8(u"4096,1,0,\"操作日志\",\"用户ID\",\"用户表\",\"ID\"")), std::string::npos) << rels[0];
  std::string schema = RunCommand("mdb-schema '" + path + "' 2>/dev/null");
  EXPECT_NE(schema.find(Utf8(u"[照片]\t\t\tOLE")), std::string::npos) << schema;
  EXPECT_NE(schema.find(Utf8(u"[个人简介]\t\t\tMemo")), std::string::npos);
  // The password guards the file; an existing file is never overwritten.
  mdb::OpenOptions wrong;
  wrong.password = u"nope";
  std::unique_ptr<mdb::Database> db;
  EXPECT_EQ(mdb::Database::Open(mdb::Env::Default(), path, wrong, &db).code(), mdb::Status::Code::kBadPassword);
  EXPECT_FALSE(mdb::Database::Create(mdb::Env::Default(), path, mdb::CreateOptions()).ok());
}

// ---- A new file against an empty database Access made ----------------------

struct Definitions {
  std::unique_ptr<mdb::Pager> pager;
  mdb::Catalog catalog;
  mdb::TableDef Of(const std::u16string& table) {
    mdb::TableDef d;
    const mdb::CatalogEntry* e = catalog.FindTable(table);
    EXPECT_TRUE(e) << Utf8(table);
    if (e) EXPECT_TRUE(mdb::ReadTableDef(pager.get(), e->tdef_page(), &d).ok());
    return d;
  }
};

Definitions Read(const std::string& path) {
  Definitions d;
  EXPECT_TRUE(mdb::Pager::Open(mdb::Env::Default(), path, false, &d.pager).ok());
  EXPECT_TRUE(mdb::Catalog::Load(d.pager.get(), &d.catalog).ok());
  return d;
}

// A definition's structure: header fields, columns in stored order, real and
// logical indexes with their flags and the raw bytes of each entry that
// are no page pointers.
std::vector<std::string> Structure(const mdb::TableDef& d) {
  using namespace mdb::jet4;
  auto hex = [&](uint32_t from, uint32_t n) {
    std::string s;
    char b[3];
    for (uint32_t i = 0; i < n; ++i) std::snprintf(b, sizeof b, "%02x", uint8_t(d.bytes[from + i])), s += b;
    return s;
  };
  std::vector<std::string> out = {"header " + hex(12, 4) + " " + hex(24, 17) + " " + hex(41, 14)};
  std::vector<const mdb::ColumnDef*> stored;
  for (const auto& c : d.columns) stored.push_back(&c);
  std::sort(stored.begin(), stored.end(), [](auto* a, auto* b) { return a->entry_offset < b->entry_offset; });
  for (const mdb::ColumnDef* c : stored) {
    bool fixed = c->flags & kColFlagFixed && c->type != uint8_t(mdb::ColumnType::kBool);
    out.push_back("column " + Utf8(c->column.name) + " " + hex(c->entry_offset, 21) + " " +
                  (fixed ? hex(c->entry_offset + 21, 2) : "-") + " " + hex(c->entry_offset + 23, 2));
  }
  for (const auto& r : d.real_indexes) {
    // Access leaves unused column slots' order bytes as they were.
    std::string cols = hex(r.entry_offset, 4);
    for (size_t k = 0; k < r.columns.size(); ++k) cols += " " + hex(r.entry_offset + 4 + 3 * uint32_t(k), 3);
    out.push_back("real " + cols + " " + hex(r.entry_offset + kRealIndexFlagsOffset, 1));
  }
  for (const auto& l : d.indexes)
    out.push_back("logical " + Utf8(l.name) + " " + hex(l.entry_offset, 17) + " " + hex(l.entry_offset + 21, 7));
  return out;
}

// Catalog and permission rows by object name, with each account given as
// its difference from the file's engine account (the owner of "Tables"):
// files store accounts under masks of their own. The workgroup's Admins
// group (a long identifier) belongs to the installation that made a file.
struct Objects {
  std::map<std::u16string, std::vector<int64_t>> rows;  // Id, ParentId, Type, Flags, owner account
  std::map<int64_t, std::multiset<std::vector<int64_t>>> aces;
};

Objects ReadObjects(const std::string& path, const std::u16string& password) {
  auto db = Open(path, password);
  Objects o;
  if (!db) return o;
  std::unique_ptr<mdb::Table> t;
  EXPECT_TRUE(db->OpenTable(u"MSysObjects", &t).ok());
  auto get = [](mdb::Cursor* c, int i) {
    Value v;
    EXPECT_TRUE(c->Get(i, &v).ok());
    return v;
  };
  auto account = [](const Value& v, int mask) -> int64_t {
    auto* b = std::get_if<mdb::Binary>(&v);
    if (!b || b->bytes.size() != 2) return -1;
    return ((uint8_t(b->bytes[0]) << 8) | uint8_t(b->bytes[1])) ^ mask;
  };
  std::vector<std::tuple<std::u16string, std::vector<int64_t>, Value>> raw;
  int mask = 0;
  auto c = t->Scan();
  while (c->Next()) {
    auto name = std::get<std::u16string>(get(c.get(), t->ColumnIndex(u"Name")));
    std::vector<int64_t> r;
    for (const char16_t* col : {u"Id", u"ParentId", u"Type", u"Flags"}) r.push_back(std::get<int64_t>(get(c.get(), t->ColumnIndex(col))));
    Value owner = get(c.get(), t->ColumnIndex(u"Owner"));
    if (name == u"Tables") mask = int(account(owner, 0));
    raw.emplace_back(name, r, owner);
  }
  for (auto& [name, r, owner] : raw) {
    r.push_back(account(owner, mask));
    o.rows[name] = r;
  }
  EXPECT_TRUE(db->OpenTable(u"MSysACEs", &t).ok());
  c = t->Scan();
  while (c->Next()) {
    int64_t who = account(get(c.get(), t->ColumnIndex(u"SID")), mask);
    if (who < 0) continue;
    Value inh = get(c.get(), t->ColumnIndex(u"FInheritable"));
    o.aces[std::get<int64_t>(get(c.get(), t->ColumnIndex(u"ObjectId")))].insert(
        {who, std::get<int64_t>(get(c.get(), t->ColumnIndex(u"ACM"))), std::get<bool>(inh) ? 1 : 0});
  }
  return o;
}

TEST(Create, MatchesAnAccessMadeEmptyDatabase) {
  std::string ours = NewDb("structure.mdb", u"");
  std::string access = std::string(USERMGR_FIXTURES_DIR) + "/mr_data_V2003_empty.mdb";
  {
    Definitions a = Read(access), b = Read(ours);
    for (const char16_t* t : {u"MSysObjects", u"MSysACEs", u"MSysQueries", u"MSysRelationships"})
      EXPECT_EQ(Structure(b.Of(t)), Structure(a.Of(t))) << Utf8(t);
    const uint8_t *pa, *pb;
    ASSERT_TRUE(a.pager->Get(1, &pa).ok());
    std::string free_a(reinterpret_cast<const char*>(pa), 16);
    ASSERT_TRUE(b.pager->Get(1, &pb).ok());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(pb) + 4, 4), free_a.substr(4, 4));    // the free map's page
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(pb) + 12, 2), free_a.substr(12, 2));  // two map rows
  }
  Objects a = ReadObjects(access, u""), b = ReadObjects(ours, u"");
  // Access adds its navigation, layout and document objects itself.
  const std::set<std::u16string> access_only = {u"AccessLayout", u"SummaryInfo", u"UserDefined", u"MSysAccessStorage",
                                                u"MSysNavPaneGroupCategories", u"MSysNavPaneGroups",
                                                u"MSysNavPaneGroupToObjects", u"MSysNavPaneObjectIDs"};
  for (const auto& [name, row] : a.rows) {
    if (access_only.count(name)) continue;
    ASSERT_TRUE(b.rows.count(name)) << Utf8(name);
    EXPECT_EQ(b.rows[name], row) << Utf8(name);
    EXPECT_EQ(b.aces[row[0]], a.aces[row[0]]) << Utf8(name);
  }
  // The program's tables and their relationship as Access makes a table
  // and a relationship: owned by the account that made them, with the
  // rights their containers pass on (here as in other Access-made files).
  Objects t = ReadObjects(std::string(USERMGR_FIXTURES_DIR) + "/jk_indexTestV2000.mdb", u"");
  for (const char16_t* name : {u"用户信息表", u"操作日志", u"用户表"}) {
    const auto& row = b.rows[name];
    ASSERT_EQ(row.size(), 5u) << Utf8(name);
    EXPECT_EQ(std::vector<int64_t>(row.begin() + 1, row.end()),
              std::vector<int64_t>(t.rows[u"Table1"].begin() + 1, t.rows[u"Table1"].end()));
    EXPECT_EQ(b.aces[row[0]], t.aces[t.rows[u"Table1"][0]]) << Utf8(name);
  }
  const auto& rel = b.rows[u"用户表操作日志"];
  ASSERT_EQ(rel.size(), 5u);
  EXPECT_EQ(std::vector<int64_t>(rel.begin() + 1, rel.end()),
            std::vector<int64_t>(t.rows[u"Table2Table1"].begin() + 1, t.rows[u"Table2Table1"].end()));
  EXPECT_EQ(b.aces[rel[0]], t.aces[t.rows[u"Table2Table1"][0]]);
  // Their definitions: the header bytes of a user table, and the foreign-key
  // indexes of a cascading relationship, as in that file.
  Definitions x = Read(std::string(USERMGR_FIXTURES_DIR) + "/jk_indexTestV2000.mdb"), y = Read(ours);
  mdb::TableDef referencing = y.Of(u"操作日志"), referenced = y.Of(u"用户表");
  mdb::TableDef access_referencing = x.Of(u"Table1"), access_referenced = x.Of(u"Table2");
  EXPECT_EQ(referencing.bytes.substr(24, 17), access_referencing.bytes.substr(24, 17));
  auto fk = [](const mdb::TableDef& d, uint32_t other) {
    for (const auto& l : d.indexes)
      if (l.kind == mdb::jet4::kIndexKindForeign && l.rel_table_page == other)
        return std::vector<int>{l.rel_table_type, l.cascade_updates, l.cascade_deletes, int(l.name == u".rC")};
    return std::vector<int>{};
  };
  EXPECT_EQ(fk(referencing, referenced.first_page), fk(access_referencing, access_referenced.first_page));
  EXPECT_EQ(fk(referenced, referencing.first_page), fk(access_referenced, access_referencing.first_page));
  EXPECT_EQ(fk(referencing, referenced.first_page), (std::vector<int>{2, 0, 1, 0}));
  EXPECT_EQ(fk(referenced, referencing.first_page), (std::vector<int>{1, 0, 1, 1}));
  // mdb-prop reads the property blocks Access gives a table and its columns.
  std::string props = RunCommand("mdb-prop '" + ours + "' " + Utf8(u"用户信息表"));
  EXPECT_NE(props.find("DefaultView: 2"), std::string::npos) << props;
  EXPECT_NE(props.find(Utf8(u"name: 姓名\n")), std::string::npos) << props;
  EXPECT_NE(props.find("AllowZeroLength: yes"), std::string::npos) << props;
  EXPECT_CLEAN(ours);
}

TEST(Create, PersonsWithPhotosChineseTextAndRefill) {
  std::string path = NewDb("persons.mdb");
  std::string photo_small = Bytes(3000, 1), photo_mid = Bytes(70000, 2), photo_big = Bytes(20u << 20, 3);
  std::vector<mdb::RowId> ids;
  {
    auto db = Open(path, u"580274");
    std::unique_ptr<mdb::Table> t;
    ASSERT_TRUE(db->OpenTable(u"用户信息表", &t).ok());
    const std::string photos[] = {"", photo_small, photo_mid, photo_big};
    for (int k = 0; k < 12; ++k) {
      std::u16string profile = k % 2 ? std::u16string(2000, u'简') : u"简介";
      std::vector<Value> row = {Value(), u"张三" + std::u16string(1, char16_t(u'0' + k)), k % 2 == 0, profile,
                                mdb::Date{30000.0 + k}, u"管理员", mdb::Binary{photos[k % 4]}};
      mdb::RowId id;
      int64_t autonumber = 0;
      mdb::Status s = t->Insert(row, &id, &autonumber);
      ASSERT_TRUE(s.ok()) << s.ToString();
      EXPECT_EQ(autonumber, k + 1);
      ids.push_back(id);
    }
  }
  EXPECT_CLEAN(path, u"580274");
  {
    auto db = Open(path, u"580274");
    std::unique_ptr<mdb::Table> t;
    ASSERT_TRUE(db->OpenTable(u"用户信息表", &t).ok());
    Value v;
    ASSERT_TRUE(t->Read(ids[3], 6, &v).ok());
    EXPECT_TRUE(std::get<mdb::Binary>(v).bytes == photo_big);
    ASSERT_TRUE(t->Read(ids[2], 6, &v).ok());
    EXPECT_TRUE(std::get<mdb::Binary>(v).bytes == photo_mid);
    // Seek by the primary key.
    std::unique_ptr<mdb::Cursor> c;
    ASSERT_TRUE(t->Seek(0, {int64_t(4)}, &c).ok());
    ASSERT_TRUE(c->Next());
    EXPECT_EQ(c->row_id(), ids[3]);
    EXPECT_FALSE(c->Next());
    // Replace the big photo by a small one: its pages are freed and reused.
    mdb::RowId moved;
    ASSERT_TRUE(t->Update(ids[3], {{6, mdb::Binary{photo_small}}, {1, std::u16string(u"李四")}}, &moved).ok());
  }
  EXPECT_CLEAN(path, u"580274");
  auto rows = MdbExport(path, Utf8(u"用户信息表"), "-b strip");
  ASSERT_EQ(rows.size(), 12u);
  EXPECT_NE(rows[3].find(Utf8(u"\"李四\"")), std::string::npos) << rows[3];
  EXPECT_NE(rows[1].find(Utf8(std::u16string(2000, u'简'))), std::string::npos);
  // Empty the table, then fill it again.
  {
    auto db = Open(path, u"580274");
    std::unique_ptr<mdb::Table> t;
    ASSERT_TRUE(db->OpenTable(u"用户信息表", &t).ok());
    for (auto id : ids) ASSERT_TRUE(t->Delete(id).ok());
    EXPECT_EQ(t->row_count(), 0u);
    for (int k = 0; k < 5; ++k)
      ASSERT_TRUE(t->Insert({Value(), std::u16string(u"王五"), true, Value(), mdb::Date{40000}, Value(),
                             mdb::Binary{photo_mid}},
                            nullptr, nullptr)
                      .ok());
  }
  EXPECT_CLEAN(path, u"580274");
  EXPECT_EQ(MdbExport(path, Utf8(u"用户信息表"), "-b strip").size(), 5u);
}

TEST(Create, RelationshipRefusesOrphansAndCascadesDeletes) {
  std::string path = NewDb("rel.mdb");
  auto db = Open(path, u"580274");
  std::unique_ptr<mdb::Table> users, log;
  ASSERT_TRUE(db->OpenTable(u"用户表", &users).ok());
  ASSERT_TRUE(db->OpenTable(u"操作日志", &log).ok());
  mdb::RowId second;
  int64_t second_id = 0;
  ASSERT_TRUE(users->Insert({Value(), std::u16string(u"李四"), std::u16string(u"1")}, &second, &second_id).ok());
  EXPECT_EQ(second_id, 2);
  for (int k = 0; k < 3; ++k) {
    ASSERT_TRUE(log->Insert({int64_t(1), mdb::Date{45000}, std::u16string(u"登录")}, nullptr, nullptr).ok());
    ASSERT_TRUE(log->Insert({int64_t(2), mdb::Date{45000}, std::u16string(u"添加人员")}, nullptr, nullptr).ok());
  }
  mdb::Status s = log->Insert({int64_t(99), mdb::Date{45000}, std::u16string(u"x")}, nullptr, nullptr);
  EXPECT_EQ(s.code(), mdb::Status::Code::kConstraint) << s.ToString();
  ASSERT_TRUE(users->Delete(second).ok());
  ASSERT_TRUE(db->OpenTable(u"操作日志", &log).ok());  // the cascade went through another handle
  EXPECT_EQ(log->row_count(), 3u);
  EXPECT_EQ(users->row_count(), 1u);
  // A transaction of several changes lands together or not at all.
  ASSERT_TRUE(db->Begin().ok());
  ASSERT_TRUE(log->Insert({int64_t(1), mdb::Date{45001}, std::u16string(u"a")}, nullptr, nullptr).ok());
  db->Rollback();
  // MSysRelationships' indexes ignore nulls, as Access makes them: a row
  // without the key has no entry there (engine-level write; SQL refuses it).
  std::unique_ptr<mdb::Table> rels;
  ASSERT_TRUE(db->OpenTable(u"MSysRelationships", &rels).ok());
  std::vector<Value> row(rels->columns().size());
  row[rels->ColumnIndex(u"szRelationship")] = std::u16string(u"unfinished");
  row[rels->ColumnIndex(u"grbit")] = int64_t(mdb::kRelNotEnforced);
  ASSERT_TRUE(rels->Insert(row, nullptr, nullptr).ok());
  db.reset();
  EXPECT_CLEAN(path, u"580274");
  EXPECT_EQ(MdbExport(path, Utf8(u"操作日志")).size(), 3u);
  std::unique_ptr<mdb::Pager> pager;
  mdb::Catalog catalog;
  mdb::TableDef def;
  ASSERT_TRUE(mdb::Pager::Open(mdb::Env::Default(), path, false, &pager).ok());
  ASSERT_TRUE(mdb::Catalog::Load(pager.get(), &catalog).ok());
  ASSERT_TRUE(mdb::ReadTableDef(pager.get(), catalog.FindTable(u"MSysRelationships")->tdef_page(), &def).ok());
  std::vector<size_t> entries;
  for (const auto& r : def.real_indexes) {
    std::vector<mdb::IndexEntry> e;
    ASSERT_TRUE(mdb::ReadIndex(pager.get(), r.first_page, &e, nullptr).ok());
    entries.push_back(e.size());
  }
  EXPECT_EQ(entries, (std::vector<size_t>{2, 1, 1}));  // szRelationship, szObject, szReferencedObject
}

// The catalog's Chinese names and an index on [姓名] get the keys Access
// writes (the checker makes every key again); the name index serves exact
// searches and keeps up with deletes.
TEST(Create, CatalogAndNameKeysAsAccessWritesThem) {
  std::string path = Scratch("named.mdb");
  mdb::CreateOptions o;
  o.password = u"580274";
  o.index_person_names = true;
  ASSERT_TRUE(mdb::Database::Create(mdb::Env::Default(), path, o).ok());
  EXPECT_CLEAN(path, u"580274");
  {
    auto db = Open(path, u"580274");
    const char16_t* names[] = {u"张三", u"李四", u"王五", u"张三", u"Zhang San", u"ｚｈａｎｇ ｓａｎ", u"赵六-1"};
    for (const char16_t* n : names) {
      std::u16string sql = u"insert into [用户信息表] ([姓名],[性别],[个人简介],[出生日期],[添加者]) values ('" +
                           std::u16string(n) + u"',true,'','1990-1-1','张三')";
      ASSERT_TRUE(mdb::ExecuteStatement(db.get(), sql, nullptr, nullptr).ok());
    }
    auto count = [&](const std::u16string& name) {
      std::unique_ptr<mdb::RecordSet> rs;
      EXPECT_TRUE(mdb::ExecuteQuery(db.get(), u"select * from [用户信息表] where [姓名]='" + name + u"'", &rs).ok());
      size_t n = 0;
      for (; rs && !rs->AtEnd(); rs->MoveNext()) ++n;
      return n;
    };
    EXPECT_EQ(count(u"张三"), 2u);
    EXPECT_EQ(count(u"zhang san"), 2u);  // case and width are not in the key
    EXPECT_EQ(count(u"赵六1"), 0u);     // the hyphen is
    int64_t rows = 0;
    ASSERT_TRUE(mdb::ExecuteStatement(db.get(), u"delete from [用户信息表] where [姓名]='张三'", nullptr, &rows).ok());
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(count(u"张三"), 0u);
  }
  EXPECT_CLEAN(path, u"580274");
  EXPECT_EQ(MdbExport(path, Utf8(u"用户信息表")).size(), 5u);
}

}  // namespace
