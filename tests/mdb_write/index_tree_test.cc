// Index trees kept entry by entry: many inserts split leaves and nodes,
// deletes empty and free pages, seeks find exactly the rows, and the
// checker (which verifies each tree's shape) stays clean throughout. Also
// several handles and several Database objects writing one file.
#include <algorithm>
#include <filesystem>
#include <map>
#include <random>

#include <fstream>

#include "mdb/catalog.h"
#include "mdb/pager.h"
#include "mdb/tdef.h"
#include "tests/mdb_write/helpers.h"

using namespace writetest;
using mdb::Value;

namespace {

// The database's length in pages as a reader sees it, without the journal
// a commit may leave past its end while the database stays open.
uint32_t DatabasePages(const std::string& path) {
  std::unique_ptr<mdb::Pager> p;
  mdb::Status s = mdb::Pager::Open(mdb::Env::Default(), path, false, &p);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return s.ok() ? p->page_count() : 0;
}

std::string NewDb(const std::string& name) {
  std::string path = Scratch(name);
  mdb::Status s = mdb::Database::Create(mdb::Env::Default(), path, mdb::CreateOptions());
  EXPECT_TRUE(s.ok()) << s.ToString();
  return path;
}

std::vector<Value> Person(const std::u16string& name, int k) {
  // ID, 姓名, 性别, 个人简介, 出生日期, 添加者, 照片
  return {Value(), name, bool(k % 2), std::u16string(u"简介"), mdb::Date{30000.0 + k}, std::u16string(u"张三"),
          Value()};
}

std::vector<mdb::RowId> SeekAll(mdb::Table* t, int index, const std::vector<Value>& key) {
  std::unique_ptr<mdb::Cursor> cur;
  mdb::Status s = t->Seek(index, key, &cur);
  EXPECT_TRUE(s.ok()) << s.ToString();
  std::vector<mdb::RowId> ids;
  if (!cur) return ids;
  while (cur->Next()) ids.push_back(cur->row_id());
  EXPECT_TRUE(cur->status().ok());
  return ids;
}

int IndexOf(mdb::Table* t, int column) {
  for (size_t i = 0; i < t->indexes().size(); ++i)
    if (t->indexes()[i].columns.size() == 1 && t->indexes()[i].columns[0].column == column) return int(i);
  return -1;
}

uint32_t StringsTdef(const std::string& path) {
  std::unique_ptr<mdb::Pager> p;
  mdb::Catalog c;
  EXPECT_TRUE(mdb::Pager::Open(mdb::Env::Default(), path, false, &p).ok());
  EXPECT_TRUE(mdb::Catalog::Load(p.get(), &c).ok());
  const mdb::CatalogEntry* e = c.FindTable(u"Strings");
  return e ? e->tdef_page() : 0;
}

std::string ReadPage(const std::string& path, uint32_t page) {
  std::ifstream f(path, std::ios::binary);
  std::string b(4096, '\0');
  f.seekg(std::streamoff(page) * 4096);
  f.read(b.data(), 4096);
  return b;
}

void WritePage(const std::string& path, uint32_t page, const std::string& b) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(std::streamoff(page) * 4096);
  f.write(b.data(), 4096);
}

// Moves the bound of a node page's first entry one row pointer up or down:
// the entry is stored whole, ending at the first bit of the entry mask, with
// the row pointer before the 4-byte child page.
void EditFirstNodeEntry(std::string* page, bool down) {
  size_t end = 0;
  for (size_t i = 0x1B; i < 0x1E0 && !end; ++i)
    for (int b = 0; b < 8 && !end; ++b)
      if (uint8_t((*page)[i]) >> b & 1) end = 0x1E0 + (i - 0x1B) * 8 + b;
  ASSERT_GT(end, 0x1E0u + 8);
  uint32_t ptr = 0;
  for (size_t k = end - 8; k < end - 4; ++k) ptr = ptr << 8 | uint8_t((*page)[k]);
  ptr = down ? ptr - 1 : ptr + 1;
  for (int k = 3; k >= 0; --k, ptr >>= 8) (*page)[end - 8 + size_t(k)] = char(ptr & 0xFF);
}

TEST(IndexTree, SplitsMergesAndSeeksOverThousandsOfRows) {
  std::string path = NewDb("tree.mdb");
  auto db = Open(path, u"580274");
  std::unique_ptr<mdb::Table> persons, log, users;
  ASSERT_TRUE(db->OpenTable(u"用户信息表", &persons).ok());
  ASSERT_TRUE(db->OpenTable(u"操作日志", &log).ok());
  ASSERT_TRUE(db->OpenTable(u"用户表", &users).ok());
  int pk = IndexOf(persons.get(), 0), fk = IndexOf(log.get(), 0);
  ASSERT_GE(pk, 0);
  ASSERT_GE(fk, 0);
  int64_t second_user = 0;
  ASSERT_TRUE(users->Insert({Value(), std::u16string(u"李四"), std::u16string(u"1")}, nullptr, &second_user).ok());

  // Enough rows for several leaf levels' worth of splits: batches in one
  // transaction each, and some single statements.
  std::vector<std::pair<int64_t, mdb::RowId>> people;
  for (int batch = 0; batch < 8; ++batch) {
    ASSERT_TRUE(db->Begin().ok());
    for (int k = 0; k < 500; ++k) {
      mdb::RowId id;
      int64_t auto_id = 0;
      mdb::Status s = persons->Insert(Person(u"人" + std::u16string(1, char16_t(u'甲' + k % 50)), k), &id, &auto_id);
      ASSERT_TRUE(s.ok()) << s.ToString();
      people.push_back({auto_id, id});
      s = log->Insert({int64_t(k % 3 ? 1 : second_user), mdb::Date{40000.0 + k}, std::u16string(u"添加")}, nullptr,
                      nullptr);
      ASSERT_TRUE(s.ok()) << s.ToString();
    }
    ASSERT_TRUE(db->Commit().ok());
  }
  for (int k = 0; k < 20; ++k) {
    mdb::RowId id;
    int64_t auto_id = 0;
    ASSERT_TRUE(persons->Insert(Person(u"单", k), &id, &auto_id).ok());
    people.push_back({auto_id, id});
  }
  ASSERT_EQ(persons->row_count(), 4020u);
  ASSERT_EQ(people.back().first, 4020);
  EXPECT_CLEAN(path, u"580274");

  // A duplicate primary key is refused and changes nothing.
  std::vector<Value> dup = Person(u"重", 1);
  dup[0] = int64_t(17);
  EXPECT_EQ(persons->Insert(dup, nullptr, nullptr).code(), mdb::Status::Code::kConstraint);

  std::mt19937 rng(7);
  for (int probe = 0; probe < 50; ++probe) {
    auto& [num, rid] = people[rng() % people.size()];
    auto found = SeekAll(persons.get(), pk, {Value(num)});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], rid);
  }
  EXPECT_EQ(SeekAll(log.get(), fk, {Value(second_user)}).size(), 8u * 167u);
  EXPECT_EQ(SeekAll(persons.get(), pk, {Value(int64_t(99999))}).size(), 0u);

  // Updates that move index entries: half the first user's log rows go to
  // the second user.
  {
    auto rows = SeekAll(log.get(), fk, {Value(int64_t(1))});
    ASSERT_EQ(rows.size(), 8u * 333u);
    ASSERT_TRUE(db->Begin().ok());
    for (size_t k = 0; k < rows.size(); k += 2) ASSERT_TRUE(log->Update(rows[k], {{0, Value(second_user)}}, nullptr).ok());
    ASSERT_TRUE(db->Commit().ok());
    EXPECT_EQ(SeekAll(log.get(), fk, {Value(second_user)}).size(), 8u * 167u + 4u * 333u);
  }
  EXPECT_CLEAN(path, u"580274");

  // Delete nine in ten persons in random order: leaves empty and leave the
  // tree, the rest stay findable.
  std::shuffle(people.begin(), people.end(), rng);
  size_t keep = people.size() / 10;
  for (size_t k = keep; k < people.size(); k += 400) {
    ASSERT_TRUE(db->Begin().ok());
    for (size_t j = k; j < std::min(people.size(), k + 400); ++j) {
      mdb::Status s = persons->Delete(people[j].second);
      ASSERT_TRUE(s.ok()) << s.ToString();
    }
    ASSERT_TRUE(db->Commit().ok());
  }
  people.resize(keep);
  EXPECT_EQ(persons->row_count(), keep);
  for (auto& [num, rid] : people) {
    auto found = SeekAll(persons.get(), pk, {Value(num)});
    ASSERT_EQ(found.size(), 1u) << num;
    EXPECT_EQ(found[0], rid);
  }
  EXPECT_CLEAN(path, u"580274");

  // Empty the table, then fill it again: freed pages come back into use.
  ASSERT_TRUE(db->Begin().ok());
  for (auto& p : people) ASSERT_TRUE(persons->Delete(p.second).ok());
  ASSERT_TRUE(db->Commit().ok());
  EXPECT_EQ(persons->row_count(), 0u);
  EXPECT_CLEAN(path, u"580274");
  auto size_empty = DatabasePages(path);
  ASSERT_TRUE(db->Begin().ok());
  for (int k = 0; k < 3000; ++k) ASSERT_TRUE(persons->Insert(Person(u"再", k), nullptr, nullptr).ok());
  ASSERT_TRUE(db->Commit().ok());
  EXPECT_LE(DatabasePages(path), size_empty + 8);
  EXPECT_CLEAN(path, u"580274");

  // Deleting the second user cascades to its log rows through the index.
  {
    auto ids = SeekAll(users.get(), IndexOf(users.get(), 0), {Value(second_user)});
    ASSERT_EQ(ids.size(), 1u);
    ASSERT_TRUE(users->Delete(ids[0]).ok());
    EXPECT_EQ(log->row_count(), 4u * 333u);
    EXPECT_EQ(SeekAll(log.get(), fk, {Value(second_user)}).size(), 0u);
  }
  db.reset();
  EXPECT_CLEAN(path, u"580274");
  EXPECT_EQ(MdbExport(path, Utf8(u"操作日志")).size(), 4u * 333u);
  EXPECT_EQ(MdbExport(path, Utf8(u"用户信息表")).size(), 3000u);
}

TEST(IndexTree, AccessTreesWithTailPagesTakeInsertsAndDeletes) {
  // Access's own tree here has an intermediate page whose last child is
  // its tail page.
  std::string path = CopyFixture("jk_compIndexTestV2000.mdb", "tail.mdb");
  EXPECT_CLEAN(path);
  auto db = Open(path);
  std::unique_ptr<mdb::Table> t;
  ASSERT_TRUE(db->OpenTable(u"Table1", &t).ok());
  uint32_t before = t->row_count();
  const std::u16string letters = u"abcdefghilmnopqrstuvxy";
  std::vector<mdb::RowId> mine;
  ASSERT_TRUE(db->Begin().ok());
  for (int k = 0; k < 1500; ++k) {
    std::u16string a = {letters[k % 22], letters[(k / 22) % 22], letters[k % 7]};
    mdb::RowId id;
    mdb::Status s = t->Insert({int64_t(k % 2 ? 500000 + k : -k), a, a + u"x"}, &id, nullptr);
    ASSERT_TRUE(s.ok()) << s.ToString();
    mine.push_back(id);
  }
  ASSERT_TRUE(db->Commit().ok());
  EXPECT_EQ(t->row_count(), before + 1500);
  EXPECT_CLEAN(path);
  ASSERT_TRUE(db->Begin().ok());
  for (size_t k = 0; k < mine.size(); k += 1) ASSERT_TRUE(t->Delete(mine[k]).ok());
  ASSERT_TRUE(db->Commit().ok());
  EXPECT_EQ(t->row_count(), before);
  db.reset();
  EXPECT_CLEAN(path);
  EXPECT_EQ(MdbExport(path, "Table1").size(), before);
}

// Long text keys make a deep tree quickly: [Strings] of this file starts
// with three levels; the churn below splits nodes and the root, then empties
// leaves and nodes again. Afterwards every node entry must equal its child's
// last entry (the checker notes any that does not, faults any below it).
TEST(IndexTree, ChurnKeepsEveryNodeEntryExact) {
  std::string path = CopyFixture("textkeys_general_V2000.mdb", "churn.mdb");
  auto db = Open(path);
  std::unique_ptr<mdb::Table> t;
  ASSERT_TRUE(db->OpenTable(u"Strings", &t).ok());
  const uint32_t before = t->row_count();
  const std::u16string letters = u"abcdefghilmnopqrstuvxy0123456789";
  std::mt19937 rng(13);
  auto text = [&](char16_t lead, size_t n) {
    std::u16string s(1, lead);
    while (s.size() < n) s += letters[rng() % letters.size()];
    return s;
  };
  std::vector<mdb::RowId> mine;
  for (int batch = 0; batch < 10; ++batch) {
    ASSERT_TRUE(db->Begin().ok());
    for (int k = 0; k < 500; ++k) {
      // Most keys crowd one region (node splits), the rest spread out.
      char16_t lead = k % 4 ? u'm' : letters[rng() % 22];
      mdb::RowId id;
      mdb::Status s = t->Insert({int64_t(100000 + batch * 1000 + k), text(lead, 200 + rng() % 56),
                                 int64_t(int(rng() % 2000) - 1000)},
                                &id, nullptr);
      ASSERT_TRUE(s.ok()) << s.ToString();
      mine.push_back(id);
    }
    ASSERT_TRUE(db->Commit().ok());
  }
  EXPECT_CLEAN(path);
  // Updates move entries across the tree; deletes empty leaves and nodes.
  std::shuffle(mine.begin(), mine.end(), rng);
  ASSERT_TRUE(db->Begin().ok());
  for (size_t k = 0; k < mine.size(); k += 3) {
    mdb::Status s = t->Update(mine[k], {{1, text(letters[rng() % 22], 200)}, {2, int64_t(k)}}, nullptr);
    ASSERT_TRUE(s.ok()) << s.ToString();
  }
  ASSERT_TRUE(db->Commit().ok());
  EXPECT_CLEAN(path);
  ASSERT_TRUE(db->Begin().ok());
  for (size_t k = 0; k < mine.size(); ++k) {
    if (k % 7 == 0) continue;
    mdb::Status s = t->Delete(mine[k]);
    ASSERT_TRUE(s.ok()) << s.ToString();
  }
  ASSERT_TRUE(db->Commit().ok());
  EXPECT_EQ(t->row_count(), before + (mine.size() + 6) / 7);
  db.reset();
  EXPECT_CLEAN(path);
  EXPECT_EQ(RunCommand("mdb-count '" + path + "' Strings"), std::to_string(before + (mine.size() + 6) / 7) + "\n");

  // A node entry left above its child's last entry, as deletes used to
  // leave them, is noted; one below it (rows past it unreachable) is a fault.
  std::unique_ptr<mdb::Pager> pager;
  ASSERT_TRUE(mdb::Pager::Open(mdb::Env::Default(), path, true, &pager).ok());
  mdb::TableDef def;
  ASSERT_TRUE(mdb::ReadTableDef(pager.get(), StringsTdef(path), &def).ok());
  uint32_t root = def.real_indexes[0].first_page;
  auto damage = [&](bool below) {
    std::string page = ReadPage(path, root);
    ASSERT_EQ(uint8_t(page[0]), 0x03) << "the index root is a node";
    EditFirstNodeEntry(&page, below);
    WritePage(path, root, page);
  };
  std::string original = ReadPage(path, root);
  pager.reset();
  damage(false);
  auto faults = CheckFaults(path);
  ASSERT_EQ(faults.size(), 1u) << ::testing::PrintToString(faults);
  EXPECT_NE(faults[0].find("note: table [Strings] index"), std::string::npos) << faults[0];
  WritePage(path, root, original);
  damage(true);
  faults = CheckFaults(path);
  ASSERT_FALSE(faults.empty());
  EXPECT_NE(faults[0].find("lies below that child's last entry"), std::string::npos) << faults[0];
}

TEST(Handles, TwoTablesAndTwoDatabasesInterleaveWithoutLosingWrites) {
  std::string path = NewDb("handles.mdb");
  auto db1 = Open(path, u"580274");
  auto db2 = Open(path, u"580274");
  std::unique_ptr<mdb::Table> a, b, c;
  ASSERT_TRUE(db1->OpenTable(u"用户信息表", &a).ok());
  ASSERT_TRUE(db1->OpenTable(u"用户信息表", &b).ok());
  ASSERT_TRUE(db2->OpenTable(u"用户信息表", &c).ok());
  mdb::Table* handles[] = {a.get(), b.get(), c.get()};
  std::vector<int64_t> numbers;
  for (int k = 0; k < 90; ++k) {
    int64_t n = 0;
    mdb::Status s = handles[k % 3]->Insert(Person(u"轮", k), nullptr, &n);
    ASSERT_TRUE(s.ok()) << s.ToString();
    numbers.push_back(n);
    for (mdb::Table* h : handles) ASSERT_EQ(h->row_count(), uint32_t(k + 1));
  }
  for (int k = 0; k < 90; ++k) EXPECT_EQ(numbers[k], k + 1);

  // A cascade through one Database shows in the other's handles at once.
  std::unique_ptr<mdb::Table> users1, log2;
  ASSERT_TRUE(db1->OpenTable(u"用户表", &users1).ok());
  ASSERT_TRUE(db2->OpenTable(u"操作日志", &log2).ok());
  for (int k = 0; k < 5; ++k)
    ASSERT_TRUE(log2->Insert({int64_t(1), mdb::Date{40000.0}, std::u16string(u"登录")}, nullptr, nullptr).ok());
  EXPECT_EQ(log2->row_count(), 5u);
  auto cur = users1->Scan();
  ASSERT_TRUE(cur->Next());
  ASSERT_TRUE(users1->Delete(cur->row_id()).ok());
  EXPECT_EQ(log2->row_count(), 0u);
  EXPECT_EQ(users1->row_count(), 0u);
  // The second Database's next insert sees the first's auto-number.
  int64_t n = 0;
  ASSERT_TRUE(c->Insert(Person(u"后", 0), nullptr, &n).ok());
  EXPECT_EQ(n, 91);
  db1.reset();
  db2.reset();
  EXPECT_CLEAN(path, u"580274");
  EXPECT_EQ(MdbExport(path, Utf8(u"用户信息表")).size(), 91u);
}

}  // namespace
