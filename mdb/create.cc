// Creates a new file with the program's schema. It starts from the image of
// an empty database as Access writes it (empty_db_image.cc) and adds the
// three tables, their catalog rows, indexes and the relationship.
#include <cstring>
#include <vector>

#include "mdb/database_impl.h"
#include "mdb/header.h"
#include "mdb/index.h"
#include "mdb/jet4.h"
#include "mdb/oadate.h"
#include "mdb/page_space.h"
#include "mdb/table_impl.h"
#include "mdb/usage_map.h"

namespace mdb {

extern const uint8_t kEmptyDatabase[];
extern const size_t kEmptyDatabaseSize;

using namespace jet4;

namespace {

struct ColSpec {
  std::u16string name;
  ColumnType type;
  uint16_t length;  // bytes; 0 for long values
  bool autonumber = false;
};
struct IdxSpec {
  std::u16string name;
  int column;    // position in the table's columns
  uint8_t kind;  // 1 primary, 0 plain, 2 foreign key
  bool unique;
};
struct TableSpec {
  std::u16string name;
  std::vector<ColSpec> cols;
  std::vector<IdxSpec> idx;
  // Filled while building.
  uint32_t tdef = 0, map_page = 0;
  std::vector<uint32_t> index_roots;
};

bool IsFixed(ColumnType t) {
  return t != ColumnType::kText && t != ColumnType::kMemo && t != ColumnType::kOle && t != ColumnType::kBinary;
}
bool IsLong(ColumnType t) { return t == ColumnType::kMemo || t == ColumnType::kOle; }

void Put16s(std::string* s, uint16_t v) { s->push_back(char(v)); s->push_back(char(v >> 8)); }
void Put32s(std::string* s, uint32_t v) { Put16s(s, uint16_t(v)); Put16s(s, uint16_t(v >> 16)); }
void PutName(std::string* s, const std::u16string& n) {
  Put16s(s, uint16_t(n.size() * 2));
  for (char16_t c : n) Put16s(s, c);
}

// Relationship info for the foreign-key logical indexes.
struct FkLink {
  int logical = -1;  // which logical index of this table
  uint32_t other_tdef = 0;
  int other_logical = 0;
  uint8_t other_type = 0;
  bool cascade_delete = false;
};

// The map rows of a table's usage-map page: [0] pages, [1] free pages, then
// one per index, then two per long-value column.
std::string MapRow() {
  std::string r(69, '\0');
  return r;
}

Status BuildTable(Pager* pager, TableSpec* t) {
  MDB_RETURN_IF_ERROR(AllocatePage(pager, &t->tdef));
  MDB_RETURN_IF_ERROR(AllocatePage(pager, &t->map_page));
  uint8_t map[kPageSize];
  InitDataPage(map, 0);
  size_t long_cols = 0;
  for (auto& c : t->cols) long_cols += IsLong(c.type);
  size_t rows = 2 + t->idx.size() + 2 * long_cols;
  for (size_t i = 0; i < rows; ++i) {
    uint16_t r;
    MDB_RETURN_IF_ERROR(AddRow(map, MapRow(), 0, &r));
  }
  MDB_RETURN_IF_ERROR(pager->Put(t->map_page, map));
  for (size_t i = 0; i < t->idx.size(); ++i) {
    uint32_t root;
    MDB_RETURN_IF_ERROR(AllocatePage(pager, &root));
    uint8_t leaf[kPageSize];
    InitLeafPage(leaf, t->tdef);
    MDB_RETURN_IF_ERROR(pager->Put(root, leaf));
    UsageMap m;
    MDB_RETURN_IF_ERROR(UsageMap::Load(pager, MakePtr(t->map_page, uint32_t(2 + i)), &m));
    MDB_RETURN_IF_ERROR(m.Set(pager, root, true));
    t->index_roots.push_back(root);
  }
  return Status::OK();
}

Status WriteTdef(Pager* pager, const TableSpec& t, const std::vector<FkLink>& fks) {
  std::string b(63, '\0');
  uint8_t* h = reinterpret_cast<uint8_t*>(b.data());
  h[0] = kPageTdef;
  h[1] = 0x01;
  Put32(h + 12, 0x0659);
  h[24] = 0x01;
  h[kTdefTableTypeOffset] = kTableTypeUser;
  uint16_t var_count = 0;
  for (auto& c : t.cols) var_count += !IsFixed(c.type);
  Put16(h + kTdefMaxColsOffset, uint16_t(t.cols.size()));
  Put16(h + kTdefVarColsOffset, var_count);
  Put16(h + kTdefColCountOffset, uint16_t(t.cols.size()));
  size_t logical = t.idx.size() + fks.size();
  Put32(h + kTdefIndexCountOffset, uint32_t(logical));
  Put32(h + kTdefRealIndexCountOffset, uint32_t(t.idx.size()));
  Put32(h + kTdefUsedPagesOffset, MakePtr(t.map_page, 0));
  Put32(h + kTdefFreePagesOffset, MakePtr(t.map_page, 1));
  for (size_t i = 0; i < t.idx.size(); ++i) b += std::string(12, '\0');
  // Fixed columns first in the fixed part; yes/no takes no room there.
  uint16_t fixed_off = 0, var_index = 0;
  for (size_t i = 0; i < t.cols.size(); ++i) {
    const ColSpec& c = t.cols[i];
    std::string e(25, '\0');
    uint8_t* p = reinterpret_cast<uint8_t*>(e.data());
    p[0] = uint8_t(c.type);
    Put32(p + 1, 0x0659);
    Put16(p + kColNumberOffset, uint16_t(i));
    Put16(p + kColIndexOffset, uint16_t(i));
    bool text = c.type == ColumnType::kText || c.type == ColumnType::kMemo;
    if (text) Put16(p + kColMiscOffset, 0x0409);
    uint8_t flags = kColFlagNullable;
    if (IsFixed(c.type)) flags |= kColFlagFixed;
    if (c.autonumber) flags = kColFlagFixed | kColFlagAutonumber;
    p[kColFlagsOffset] = flags;
    if (text) p[kColExtFlagsOffset] = kColExtCompressed;
    if (IsFixed(c.type)) {
      Put16(p + kColFixedOffsetOffset, c.type == ColumnType::kBool ? 0 : fixed_off);
      if (c.type != ColumnType::kBool) fixed_off = uint16_t(fixed_off + c.length);
    } else {
      Put16(p + kColVarIndexOffset, var_index++);
    }
    Put16(p + kColLengthOffset, c.length);
    b += e;
  }
  for (auto& c : t.cols) PutName(&b, c.name);
  for (size_t i = 0; i < t.idx.size(); ++i) {
    std::string e(52, '\0');
    uint8_t* p = reinterpret_cast<uint8_t*>(e.data());
    Put32(p, 0x0783);
    for (int k = 0; k < 10; ++k) Put16(p + 4 + 3 * k, 0xFFFF);
    Put16(p + 4, uint16_t(t.idx[i].column));
    p[6] = kIndexOrderAscending;
    Put32(p + kRealIndexUsedPagesOffset, MakePtr(t.map_page, uint32_t(2 + i)));
    Put32(p + kRealIndexFirstPageOffset, t.index_roots[i]);
    // As Access writes them: 0x80 on every index, a primary key 0x89.
    uint8_t fl = kIndexFlagUnknown80;
    if (t.idx[i].unique) fl |= kIndexFlagUnique;
    if (t.idx[i].kind == kIndexKindPrimary) fl |= kIndexFlagUnique | kIndexFlagRequired;
    p[kRealIndexFlagsOffset] = fl;
    b += e;
  }
  auto logical_entry = [&](int number, int real, const FkLink* fk, uint8_t kind) {
    std::string e(28, '\0');
    uint8_t* p = reinterpret_cast<uint8_t*>(e.data());
    Put32(p, 0x0659);
    Put32(p + kLogicalIndexNumberOffset, uint32_t(number));
    Put32(p + kLogicalIndexRealOffset, uint32_t(real));
    Put32(p + kLogicalIndexRelIndexOffset, 0xFFFFFFFF);
    if (fk) {
      p[kLogicalIndexRelTypeOffset] = fk->other_type;
      Put32(p + kLogicalIndexRelIndexOffset, uint32_t(fk->other_logical));
      Put32(p + kLogicalIndexRelTableOffset, fk->other_tdef);
      p[kLogicalIndexCascadeDelOffset] = fk->cascade_delete ? 1 : 0;
    }
    p[kLogicalIndexKindOffset] = kind;
    b += e;
  };
  for (size_t i = 0; i < t.idx.size(); ++i) logical_entry(int(i), int(i), nullptr, t.idx[i].kind == 1 ? 1 : 0);
  for (size_t k = 0; k < fks.size(); ++k) logical_entry(int(t.idx.size() + k), fks[k].logical, &fks[k], kIndexKindForeign);
  for (auto& x : t.idx) PutName(&b, x.name);
  for (size_t k = 0; k < fks.size(); ++k) PutName(&b, u"用户表操作日志");
  // Long-value columns' map pointers.
  uint32_t next_row = uint32_t(2 + t.idx.size());
  for (size_t i = 0; i < t.cols.size(); ++i) {
    if (!IsLong(t.cols[i].type)) continue;
    Put16s(&b, uint16_t(i));
    Put32s(&b, MakePtr(t.map_page, next_row++));
    Put32s(&b, MakePtr(t.map_page, next_row++));
  }
  Put16s(&b, 0xFFFF);
  if (b.size() > kPageSize) return Status::NotSupported("table definition larger than a page");
  h = reinterpret_cast<uint8_t*>(b.data());
  Put32(h + kTdefLengthOffset, uint32_t(b.size() - 8));
  Put16(h + 2, uint16_t(kPageSize - b.size()));
  uint8_t page[kPageSize] = {};
  std::memcpy(page, b.data(), b.size());
  return pager->Put(t.tdef, page);
}

Status AddCatalogRows(DatabaseImpl* db, std::vector<TableSpec>& specs, const CreateOptions& options) {
  CatalogKeyScope catalog_keys;
  std::unique_ptr<TableImpl> objects;
  MDB_RETURN_IF_ERROR(db->OpenTableImpl(u"MSysObjects", &objects));
  int c_id = objects->ColumnIndex(u"Id"), c_parent = objects->ColumnIndex(u"ParentId"),
      c_name = objects->ColumnIndex(u"Name"), c_type = objects->ColumnIndex(u"Type"),
      c_flags = objects->ColumnIndex(u"Flags"), c_owner = objects->ColumnIndex(u"Owner"),
      c_created = objects->ColumnIndex(u"DateCreate"), c_updated = objects->ColumnIndex(u"DateUpdate");
  if (c_id < 0 || c_parent < 0 || c_name < 0 || c_type < 0 || c_flags < 0 || c_owner < 0 || c_created < 0 ||
      c_updated < 0)
    return Status::Corruption("the catalog lacks its usual columns");
  // The "Tables" container is the parent of every table.
  Value tables_id, owner;
  auto cur = objects->Scan();
  while (cur->Next()) {
    Value name;
    MDB_RETURN_IF_ERROR(cur->Get(c_name, &name));
    if (name == Value(std::u16string(u"Tables"))) {
      MDB_RETURN_IF_ERROR(cur->Get(c_id, &tables_id));
      MDB_RETURN_IF_ERROR(cur->Get(c_owner, &owner));
    }
  }
  MDB_RETURN_IF_ERROR(cur->status());
  if (IsNull(tables_id)) return Status::Corruption("the catalog has no Tables container");
  double now = NowOa();
  for (TableSpec& t : specs) {
    std::vector<Value> row(objects->columns().size());
    row[c_id] = int64_t(t.tdef);
    row[c_parent] = tables_id;
    row[c_name] = t.name;
    row[c_type] = int64_t(1);
    row[c_flags] = int64_t(0);
    row[c_owner] = owner;
    row[c_created] = Date{now};
    row[c_updated] = Date{now};
    MDB_RETURN_IF_ERROR(objects->Insert(row, nullptr, nullptr));
  }
  MDB_RETURN_IF_ERROR(db->ReloadCatalog());
  std::unique_ptr<TableImpl> rels;
  MDB_RETURN_IF_ERROR(db->OpenTableImpl(u"MSysRelationships", &rels));
  std::vector<Value> rel(rels->columns().size());
  auto set = [&](const char16_t* col, Value v) {
    int i = rels->ColumnIndex(col);
    if (i >= 0) rel[i] = std::move(v);
  };
  set(u"ccolumn", int64_t(1));
  set(u"grbit", int64_t(0x00001000));  // enforced, deletes cascade
  set(u"icolumn", int64_t(0));
  set(u"szColumn", std::u16string(u"用户ID"));
  set(u"szObject", std::u16string(u"操作日志"));
  set(u"szReferencedColumn", std::u16string(u"ID"));
  set(u"szReferencedObject", std::u16string(u"用户表"));
  set(u"szRelationship", std::u16string(u"用户表操作日志"));
  MDB_RETURN_IF_ERROR(rels->Insert(rel, nullptr, nullptr));
  std::unique_ptr<TableImpl> users;
  MDB_RETURN_IF_ERROR(db->OpenTableImpl(u"用户表", &users));
  return users->Insert({Value(), options.first_user, options.first_password}, nullptr, nullptr);
}

}  // namespace

namespace {

Status BuildDatabase(Env* env, const std::string& path, const CreateOptions& options);

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

namespace {

Status BuildDatabase(Env* env, const std::string& path, const CreateOptions& options) {
  {
    std::unique_ptr<File> f;
    MDB_RETURN_IF_ERROR(env->CreateFile(path, &f));
    MDB_RETURN_IF_ERROR(f->Write(0, kEmptyDatabase, kEmptyDatabaseSize));
    MDB_RETURN_IF_ERROR(f->Sync());
  }
  std::vector<TableSpec> specs = {
      {u"用户信息表",
       {{u"ID", ColumnType::kLong, 4, true},
        {u"姓名", ColumnType::kText, 100},
        {u"性别", ColumnType::kBool, 1},
        {u"个人简介", ColumnType::kMemo, 0},
        {u"出生日期", ColumnType::kDateTime, 8},
        {u"添加者", ColumnType::kText, 100},
        {u"照片", ColumnType::kOle, 0}},
       {{u"PrimaryKey", 0, kIndexKindPrimary, true}}},
      {u"操作日志",
       {{u"用户ID", ColumnType::kLong, 4},
        {u"操作时间", ColumnType::kDateTime, 8},
        {u"事件说明", ColumnType::kText, 510}},
       {{u"用户ID", 0, 0, false}}},
      {u"用户表",
       {{u"ID", ColumnType::kLong, 4, true}, {u"用户名", ColumnType::kText, 100}, {u"密码", ColumnType::kText, 100}},
       {{u"PrimaryKey", 0, kIndexKindPrimary, true}}},
  };
  {
    std::unique_ptr<Pager> pager;
    MDB_RETURN_IF_ERROR(Pager::Open(env, path, true, &pager));
    MDB_RETURN_IF_ERROR(pager->BeginWrite());
    Status s = [&]() -> Status {
      for (TableSpec& t : specs) MDB_RETURN_IF_ERROR(BuildTable(pager.get(), &t));
      // [操作日志].[用户ID] refers to [用户表].[ID]; each side gets a
      // foreign-key logical index pointing at the other.
      FkLink child{0, specs[2].tdef, 1, 1, true};
      FkLink parent{0, specs[1].tdef, 1, 0, true};
      MDB_RETURN_IF_ERROR(WriteTdef(pager.get(), specs[0], {}));
      MDB_RETURN_IF_ERROR(WriteTdef(pager.get(), specs[1], {child}));
      MDB_RETURN_IF_ERROR(WriteTdef(pager.get(), specs[2], {parent}));
      if (!options.password.empty()) {
        const uint8_t* p0;
        MDB_RETURN_IF_ERROR(pager->Get(0, &p0));
        uint8_t page0[kPageSize];
        std::memcpy(page0, p0, kPageSize);
        MDB_RETURN_IF_ERROR(SetPassword(page0, options.password));
        MDB_RETURN_IF_ERROR(pager->Put(0, page0));
      }
      return Status::OK();
    }();
    if (!s.ok()) {
      pager->Rollback();
      return s;
    }
    MDB_RETURN_IF_ERROR(pager->Commit());
  }
  std::unique_ptr<Database> db;
  OpenOptions o;
  o.password = options.password;
  MDB_RETURN_IF_ERROR(Database::Open(env, path, o, &db));
  auto* impl = static_cast<DatabaseImpl*>(db.get());
  MDB_RETURN_IF_ERROR(impl->Begin());
  Status s = AddCatalogRows(impl, specs, options);
  if (!s.ok()) {
    impl->Rollback();
    return s;
  }
  return impl->Commit();
}

}  // namespace

}  // namespace mdb
