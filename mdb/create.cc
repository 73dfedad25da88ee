// Creates a new file with the program's schema, every byte from the engine's
// own code: the header page, the free-page map, the engine's system tables
// with their rows and permissions (system_catalog.h), then the program's
// three tables, their relationship and the first account, laid out as
// Access lays out such a file.
#include <cstring>
#include <random>
#include <vector>

#include "mdb/database_impl.h"
#include "mdb/header.h"
#include "mdb/index.h"
#include "mdb/jet4.h"
#include "mdb/oadate.h"
#include "mdb/page_space.h"
#include "mdb/property_block.h"
#include "mdb/relationships.h"
#include "mdb/system_catalog.h"
#include "mdb/table_impl.h"
#include "mdb/table_layout.h"
#include "mdb/value_format.h"

namespace mdb {

using namespace jet4;

namespace {

// Column flags Access gives a new table's columns.
constexpr uint8_t kUserFixed = kColFlagFixed | kColFlagUpdatable;
constexpr uint8_t kUserVariable = kColFlagUpdatable;
constexpr uint8_t kUserAutonumber = kColFlagFixed | kColFlagUpdatable | kColFlagAutonumber;
// Index flags: every index 0x80, a primary key unique and required too.
constexpr uint8_t kPlainIndex = kIndexFlagUnknown80;
constexpr uint8_t kPrimaryIndex = kIndexFlagUnknown80 | kIndexFlagUnique | kIndexFlagRequired;

ColumnLayout UserColumn(const char16_t* name, ColumnType type, uint16_t number, uint16_t length) {
  bool fixed = type != ColumnType::kText && type != ColumnType::kMemo && type != ColumnType::kOle;
  bool text = type == ColumnType::kText || type == ColumnType::kMemo;
  return ColumnLayout{name, type, number, length, fixed ? kUserFixed : kUserVariable, text};
}
ColumnLayout AutonumberColumn(const char16_t* name, uint16_t number) {
  return ColumnLayout{name, ColumnType::kLong, number, 4, kUserAutonumber, false};
}

constexpr char16_t kRelationshipName[] = u"用户表操作日志";
// Access names the referenced table's side of a relationship ".rC".
constexpr char16_t kReferencedSideName[] = u".rC";

// [用户信息表], [操作日志] and [用户表], and [用户表].[ID] -> [操作日志].[用户ID]
// with cascading deletes: a foreign-key index on each side, type 2 on the
// referencing table and 1 on the referenced one, each naming the other.
std::vector<TableLayout> ProgramTables(const CreateOptions& options) {
  using T = ColumnType;
  std::vector<TableLayout> t(3);
  t[0].name = u"用户信息表";
  t[0].columns = {AutonumberColumn(u"ID", 0),          UserColumn(u"姓名", T::kText, 1, 100),
                  UserColumn(u"性别", T::kBool, 2, 1),    UserColumn(u"个人简介", T::kMemo, 3, 0),
                  UserColumn(u"出生日期", T::kDateTime, 4, 8), UserColumn(u"添加者", T::kText, 5, 100),
                  UserColumn(u"照片", T::kOle, 6, 0)};
  t[0].real = {{{0}, kPrimaryIndex}};
  t[0].logical = {{u"PrimaryKey", 0, 0, kIndexKindPrimary}};
  if (options.index_person_names) {
    t[0].real.push_back({{1}, kPlainIndex});
    t[0].logical.push_back({u"姓名", 1, 1, 0});
  }
  t[1].name = u"操作日志";
  t[1].columns = {UserColumn(u"用户ID", T::kLong, 0, 4), UserColumn(u"操作时间", T::kDateTime, 1, 8),
                  UserColumn(u"事件说明", T::kText, 2, 510)};
  t[1].real = {{{0}, kPlainIndex}};
  t[1].logical = {{u"用户ID", 0, 0, 0}, {kRelationshipName, 1, 0, kIndexKindForeign}};
  t[2].name = u"用户表";
  t[2].columns = {AutonumberColumn(u"ID", 0), UserColumn(u"用户名", T::kText, 1, 100),
                  UserColumn(u"密码", T::kText, 2, 100)};
  t[2].real = {{{0}, kPrimaryIndex}};
  t[2].logical = {{u"PrimaryKey", 0, 0, kIndexKindPrimary}, {kReferencedSideName, 1, 0, kIndexKindForeign}};
  // Pages after the system tables: each table's definition, its map page,
  // its index roots.
  uint32_t page = syscat::kFirstFreePage;
  for (TableLayout& x : t) {
    x.tdef = page++;
    x.map_page = page++;
    for (size_t k = 0; k < x.real.size(); ++k) x.roots.push_back(page++);
  }
  LogicalIndexLayout& referencing = t[1].logical[1];
  LogicalIndexLayout& referenced = t[2].logical[1];
  referencing.rel_type = 2;
  referencing.rel_index = int32_t(referenced.number);
  referencing.rel_table = t[2].tdef;
  referenced.rel_type = 1;
  referenced.rel_index = int32_t(referencing.number);
  referenced.rel_table = t[1].tdef;
  referencing.cascade_deletes = referenced.cascade_deletes = true;
  return t;
}

// The properties Access gives a new table and its columns, without the
// datasheet's (widths, order, hidden), without default values (which Jet
// applies and this engine does not) and with zero-length texts allowed,
// which the program writes for empty fields.
std::string ProgramTableProperties(const TableLayout& t, std::mt19937* rng) {
  auto guid = [&]() {
    uint8_t g[16];
    for (uint8_t& b : g) b = uint8_t((*rng)());
    return Property::Guid(g);
  };
  std::vector<PropertySet> sets;
  sets.push_back({u"", {Property::Byte(u"DefaultView", 2, false), Property::Bool(u"OrderByOn", false, false),
                        Property::Byte(u"Orientation", 0), guid()}});
  for (const ColumnLayout& c : t.columns) {
    PropertySet s{c.name, {}};
    bool autonumber = c.flags & kColFlagAutonumber;
    switch (c.type) {
      case ColumnType::kText:
      case ColumnType::kMemo:
        s.properties = {Property::Bool(u"Required", false), Property::Bool(u"AllowZeroLength", true),
                        Property::Int(u"DisplayControl", 109), Property::Byte(u"IMEMode", 0),
                        Property::Byte(u"IMESentenceMode", 3), Property::Bool(u"UnicodeCompression", true)};
        break;
      case ColumnType::kBool:
        s.properties = {Property::Bool(u"Required", false), Property::Int(u"DisplayControl", 106),
                        Property::Text(u"Format", u"Yes/No")};
        break;
      case ColumnType::kDateTime:
        s.properties = {Property::Bool(u"Required", false), Property::Byte(u"IMEMode", 0),
                        Property::Byte(u"IMESentenceMode", 3)};
        break;
      case ColumnType::kLong:
        if (!autonumber)
          s.properties = {Property::Byte(u"DecimalPlaces", 255), Property::Bool(u"Required", false),
                          Property::Int(u"DisplayControl", 109)};
        break;
      default:
        s.properties = {Property::Bool(u"Required", false)};
        break;
    }
    s.properties.push_back(guid());
    sets.push_back(std::move(s));
  }
  return EncodePropertyBlock(sets);
}

// Page 1: the free-page map (pages past the end count as free, as far as
// the inline map reaches) and the second, empty map row Access keeps there.
void BuildFreeMapPage(uint32_t page_count, uint8_t* page) {
  InitDataPage(page, 1);
  std::string free_map = EmptyMapRow();
  for (uint32_t p = page_count; p < 64 * 8; ++p) free_map[5 + p / 8] = char(uint8_t(free_map[5 + p / 8]) | (1 << (p % 8)));
  uint16_t row;
  AddRow(page, free_map, 0, &row);
  AddRow(page, EmptyMapRow(), 0, &row);
}

Status BuildPages(Pager* pager, const CreateOptions& options, const std::vector<TableLayout>& system,
                  const std::vector<TableLayout>& program) {
  uint8_t page[kPageSize];
  NewHeader h;
  h.code_page = options.code_page;
  h.sort_order = options.sort_order;
  h.password = options.password;
  MDB_RETURN_IF_ERROR(BuildHeaderPage(h, page));
  MDB_RETURN_IF_ERROR(PutPage(pager, 0, page));
  uint32_t pages = program.back().roots.back() + 1;
  BuildFreeMapPage(pages, page);
  MDB_RETURN_IF_ERROR(PutPage(pager, 1, page));
  uint8_t maps[kPageSize];
  InitDataPage(maps, 0);
  for (const TableLayout& t : system) MDB_RETURN_IF_ERROR(WriteNewTable(pager, t, options.sort_order, maps));
  MDB_RETURN_IF_ERROR(PutPage(pager, syscat::kSystemMapPage, maps));
  for (const TableLayout& t : program) {
    InitDataPage(maps, 0);
    MDB_RETURN_IF_ERROR(WriteNewTable(pager, t, options.sort_order, maps));
    MDB_RETURN_IF_ERROR(PutPage(pager, t.map_page, maps));
  }
  return Status::OK();
}

// One row of a table by column names; the others stay null.
class RowBuilder {
 public:
  explicit RowBuilder(TableImpl* t) : t_(t), row_(t->columns().size()) {}
  RowBuilder& Set(const char16_t* column, Value v) {
    int i = t_->ColumnIndex(column);
    if (i < 0) missing_ = column;
    else row_[size_t(i)] = std::move(v);
    return *this;
  }
  Status Insert() {
    if (!missing_.empty()) return Status::Corruption("a system table lacks its column [" + Utf16ToUtf8Lossy(missing_) + "]");
    return t_->Insert(row_, nullptr, nullptr);
  }

 private:
  TableImpl* t_;
  std::vector<Value> row_;
  std::u16string missing_;
};

Value Long(uint32_t v) { return int64_t(int32_t(v)); }
Value Sid(syscat::Account a) { return Binary{syscat::SidOf(a)}; }

Status AddCatalogRows(DatabaseImpl* db, const std::vector<TableLayout>& program, const CreateOptions& options) {
  std::unique_ptr<TableImpl> objects, aces, rels;
  MDB_RETURN_IF_ERROR(db->OpenTableAt(kCatalogTdefPage, &objects));
  MDB_RETURN_IF_ERROR(db->OpenTableAt(kCatalogTdefPage + 1, &aces));
  MDB_RETURN_IF_ERROR(db->OpenTableAt(kCatalogTdefPage + 3, &rels));
  const Date now{NowOa()};
  auto object = [&](uint32_t id, uint32_t parent, const std::u16string& name, int16_t type, uint32_t flags,
                    Value owner, Value props) {
    return RowBuilder(objects.get())
        .Set(u"Id", Long(id)).Set(u"ParentId", Long(parent)).Set(u"Name", name).Set(u"Type", int64_t(type))
        .Set(u"DateCreate", now).Set(u"DateUpdate", now).Set(u"Owner", std::move(owner))
        .Set(u"Flags", Long(flags)).Set(u"LvProp", std::move(props)).Insert();
  };
  auto ace = [&](uint32_t id, const std::string& sid, int32_t rights, bool inheritable) {
    return RowBuilder(aces.get())
        .Set(u"ObjectId", Long(id)).Set(u"SID", Binary{sid}).Set(u"ACM", int64_t(rights))
        .Set(u"FInheritable", inheritable).Insert();
  };
  std::vector<syscat::StoredAce> tables_aces, relationships_aces;
  uint32_t next_document = syscat::kFirstDocumentId;
  for (const syscat::BuiltinObject& o : syscat::BuiltinObjects()) {
    MDB_RETURN_IF_ERROR(object(o.id, o.parent, o.name, o.type, o.flags, Sid(o.owner), Value()));
    for (const syscat::Ace& a : o.aces) {
      MDB_RETURN_IF_ERROR(ace(o.id, syscat::SidOf(a.who), a.rights, a.inheritable));
      syscat::StoredAce stored{syscat::SidOf(a.who), a.rights, a.inheritable};
      if (o.id == syscat::kTablesId) tables_aces.push_back(stored);
      if (o.id == syscat::kRelationshipsId) relationships_aces.push_back(stored);
    }
    if (o.id >= syscat::kFirstDocumentId) next_document = o.id + 1;
  }
  // The program's tables and their relationship belong to the account that
  // creates them, with the permissions their containers pass on.
  const std::string creator = syscat::SidOf(syscat::Account::kCreator), owner = syscat::SidOf(syscat::Account::kAdmin);
  std::mt19937 rng(std::random_device{}());
  for (const TableLayout& t : program) {
    MDB_RETURN_IF_ERROR(object(t.tdef, syscat::kTablesId, t.name, syscat::kTypeTable, 0, Binary{owner},
                               Binary{ProgramTableProperties(t, &rng)}));
    for (const syscat::StoredAce& a : syscat::InheritedAces(tables_aces, creator, owner))
      MDB_RETURN_IF_ERROR(ace(t.tdef, a.sid, a.rights, a.inheritable));
  }
  MDB_RETURN_IF_ERROR(object(next_document, syscat::kRelationshipsId, kRelationshipName, syscat::kTypeRelationship, 0,
                             Binary{owner}, Value()));
  for (const syscat::StoredAce& a : syscat::InheritedAces(relationships_aces, creator, owner))
    MDB_RETURN_IF_ERROR(ace(next_document, a.sid, a.rights, a.inheritable));
  MDB_RETURN_IF_ERROR(RowBuilder(rels.get())
                          .Set(u"ccolumn", int64_t(1)).Set(u"grbit", int64_t(kRelCascadeDeletes))
                          .Set(u"icolumn", int64_t(0)).Set(u"szColumn", std::u16string(u"用户ID"))
                          .Set(u"szObject", program[1].name).Set(u"szReferencedColumn", std::u16string(u"ID"))
                          .Set(u"szReferencedObject", program[2].name)
                          .Set(u"szRelationship", std::u16string(kRelationshipName))
                          .Insert());
  MDB_RETURN_IF_ERROR(db->ReloadCatalog());
  std::unique_ptr<TableImpl> users;
  MDB_RETURN_IF_ERROR(db->OpenTableAt(program[2].tdef, &users));
  return users->Insert({Value(), options.first_user, options.first_password}, nullptr, nullptr);
}

Status BuildDatabase(Env* env, const std::string& path, const CreateOptions& options) {
  const std::vector<TableLayout> system = syscat::SystemTables();
  const std::vector<TableLayout> program = ProgramTables(options);
  {
    std::unique_ptr<Pager> pager;
    MDB_RETURN_IF_ERROR(Pager::Create(env, path, &pager));
    MDB_RETURN_IF_ERROR(pager->BeginWrite());
    Status s = BuildPages(pager.get(), options, system, program);
    if (!s.ok()) {
      pager->Rollback();
      return s;
    }
    MDB_RETURN_IF_ERROR(pager->Commit());
  }
  // Nobody else sees the file under this name: no lock file, no journal.
  PagerOptions direct;
  direct.direct = true;
  std::unique_ptr<Database> db;
  OpenOptions o;
  o.password = options.password;
  MDB_RETURN_IF_ERROR(DatabaseImpl::Open(env, path, o, direct, &db));
  auto* impl = static_cast<DatabaseImpl*>(db.get());
  MDB_RETURN_IF_ERROR(impl->Begin());
  Status s = AddCatalogRows(impl, program, options);
  if (!s.ok()) {
    impl->Rollback();
    return s;
  }
  return impl->Commit();
}

}  // namespace

// The file is built under a temporary name and takes its own name only when
// complete, so a crash or an error never leaves a half-made database where
// the program looks for one.
Status Database::Create(Env* env, const std::string& path, const CreateOptions& options) {
  if (env->FileExists(path)) return Status::InvalidArgument("the file already exists: " + path);
  if (options.password.size() > 20) return Status::InvalidArgument("a database password has at most 20 characters");
  const std::string building = path + ".creating";
  if (env->FileExists(building)) MDB_RETURN_IF_ERROR(env->RemoveFile(building));  // a crashed attempt's
  Status s = BuildDatabase(env, building, options);
  if (s.ok()) s = env->RenameNoReplace(building, path);
  if (!s.ok()) env->RemoveFile(building);
  return s;
}

}  // namespace mdb
