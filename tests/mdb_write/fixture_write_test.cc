// Writes to copies of real Access files, read back by our reader, by
// mdb-export and checked by the checker after every change.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "mdb/catalog.h"
#include "mdb/jet4.h"
#include "mdb/pager.h"
#include "mdb/tdef.h"
#include "mdb/usage_map.h"
#include "tests/mdb_write/helpers.h"

using namespace writetest;
using mdb::Value;

namespace {

std::vector<Value> Table1Row(const std::u16string& a, const std::u16string& b, int64_t e, bool i) {
  // A Text(50), B Text(100), C Byte, D Integer, E Long, F Double, G DateTime, H Currency, I Yes/No
  return {a, b, int64_t(7), int64_t(-12), e, 2.5, mdb::Date{36526.5}, mdb::Money{12345}, i};
}

TEST(FixtureWrite, InsertUpdateDeleteInTable1) {
  std::string path = CopyFixture("mr_data_V2000_test.mdb", "t1.mdb");
  auto before = MdbExport(path, "Table1");
  {
    auto db = Open(path);
    std::unique_ptr<mdb::Table> t;
    ASSERT_TRUE(db->OpenTable(u"Table1", &t).ok());
    uint32_t count = t->row_count();
    for (int k = 0; k < 40; ++k) {
      mdb::RowId id;
      mdb::Status s = t->Insert(Table1Row(u"rob" + std::u16string(1, u"abcdefghilmnopqrstuvxy"[k / 22]) + std::u16string(1, u"abcdefghilmnopqrstuvxy"[k % 22]), u"text", 1000 + k, k % 2),
                                &id, nullptr);
      ASSERT_TRUE(s.ok()) << s.ToString();
    }
    EXPECT_EQ(t->row_count(), count + 40);
    // Table1 carries a text index under General: a key with no known
    // form (a lone surrogate) is refused, names the table, the index and
    // the character, and leaves the file as it was.
    mdb::Status s = t->Insert(Table1Row(u"a\xD800", u"text", 1, true), nullptr, nullptr);
    EXPECT_EQ(s.code(), mdb::Status::Code::kNotSupported) << s.ToString();
    EXPECT_NE(s.message().find("table [Table1], index [PrimaryKey]: column [A]"), std::string::npos) << s.message();
    EXPECT_NE(s.message().find("U+D800"), std::string::npos) << s.message();
    EXPECT_EQ(t->row_count(), count + 40);
  }
  EXPECT_CLEAN(path);
  auto after = MdbExport(path, "Table1");
  ASSERT_EQ(after.size(), before.size() + 40);
  EXPECT_NE(std::find(after.begin(), after.end(),
                      "\"robaa\",\"text\",7,-12,1000,2.5,\"2000-01-01 12:00:00\",1.2345,0"),
            after.end());

  // Grow rows until some must move to other pages; delete every third.
  {
    auto db = Open(path);
    std::unique_ptr<mdb::Table> t;
    ASSERT_TRUE(db->OpenTable(u"Table1", &t).ok());
    std::vector<mdb::RowId> ids;
    auto cur = t->Scan();
    while (cur->Next()) {
      Value a;
      ASSERT_TRUE(cur->Get(0, &a).ok());
      if (std::get<std::u16string>(a).rfind(u"rob", 0) == 0) ids.push_back(cur->row_id());
    }
    ASSERT_EQ(ids.size(), 40u);
    uint32_t others = t->row_count() - 40;
    std::u16string big;
    for (int k = 0; k < 20; ++k) big += u"moved";
    for (size_t k = 0; k < ids.size(); ++k) {
      mdb::RowId moved;
      mdb::Status s = t->Update(ids[k], {{1, big}, {4, int64_t(5000 + k)}}, &moved);
      ASSERT_TRUE(s.ok()) << s.ToString();
    }
    for (size_t k = 0; k < ids.size(); k += 3) ASSERT_TRUE(t->Delete(ids[k]).ok());
    size_t left = ids.size() - (ids.size() + 2) / 3;
    EXPECT_EQ(t->row_count(), left + others);
    size_t seen = 0;
    auto c2 = t->Scan();
    while (c2->Next()) {
      Value a, v;
      ASSERT_TRUE(c2->Get(0, &a).ok());
      ASSERT_TRUE(c2->Get(1, &v).ok());
      if (std::get<std::u16string>(a).rfind(u"rob", 0) != 0) continue;
      EXPECT_EQ(std::get<std::u16string>(v), big);
      ++seen;
    }
    EXPECT_EQ(seen, left);
  }
  EXPECT_CLEAN(path);
  auto final_rows = MdbExport(path, "Table1");
  EXPECT_EQ(final_rows.size(), after.size() - 14);
  size_t moved_lines = 0;
  for (const auto& line : final_rows) moved_lines += line.find("movedmoved") != std::string::npos;
  EXPECT_EQ(moved_lines, 26u);
}

TEST(FixtureWrite, IndexedTablesKeepTheirIndexes) {
  std::string path = CopyFixture("jk_indexTestV2000.mdb", "idx.mdb");
  auto db = Open(path);
  std::vector<std::u16string> names;
  ASSERT_TRUE(db->ListTables(&names).ok());
  int wrote = 0;
  for (const auto& n : names) {
    std::unique_ptr<mdb::Table> t;
    ASSERT_TRUE(db->OpenTable(n, &t).ok());
    // Delete the last row and insert a copy of the first with a fresh key.
    std::vector<mdb::RowId> ids;
    auto cur = t->Scan();
    while (cur->Next()) ids.push_back(cur->row_id());
    if (ids.empty()) continue;
    std::vector<Value> row(t->columns().size());
    for (size_t i = 0; i < row.size(); ++i) ASSERT_TRUE(t->Read(ids[0], int(i), &row[i]).ok());
    for (size_t i = 0; i < row.size(); ++i)
      if (t->columns()[i].autonumber) row[i] = Value();
    mdb::Status s = t->Insert(row, nullptr, nullptr);
    // Duplicate keys and foreign keys may refuse the copy; the file must stay clean either way.
    if (s.ok()) ++wrote;
    else EXPECT_TRUE(s.code() == mdb::Status::Code::kConstraint || s.code() == mdb::Status::Code::kNotSupported)
        << s.ToString();
    s = t->Delete(ids.back());
    if (s.ok()) ++wrote;
    else EXPECT_EQ(s.code(), mdb::Status::Code::kConstraint) << s.ToString();
  }
  EXPECT_GT(wrote, 0);
  db.reset();
  EXPECT_CLEAN(path);
}

// A file Access encoded takes writes and stays encoded: the new text is
// nowhere in the file as plain text, and the other readers, which decipher
// it, see the changes. The first write to a table whose count Access left
// stale puts the count right.
TEST(FixtureWrite, EncodedFileTakesWritesAndStaysEncoded) {
  std::string path = CopyFixture("../realworld/coffeeBreaksama__VIP-Manager__dat.mdb", "encoded.mdb");
  const std::u16string password = u"tyy1059606243";
  auto faults = CheckFaults(path, password);
  ASSERT_EQ(faults.size(), 2u) << ::testing::PrintToString(faults);  // two stale counts
  {
    auto db = Open(path, password);
    std::unique_ptr<mdb::Table> vip, log;
    ASSERT_TRUE(db->OpenTable(u"VipInfo", &vip).ok());
    std::vector<Value> row(vip->columns().size());
    row[vip->ColumnIndex(u"VipName")] = std::u16string(u"Encodedmarker");
    row[vip->ColumnIndex(u"VipPhone")] = std::u16string(u"555");
    row[vip->ColumnIndex(u"VipLevel")] = int64_t(1);
    row[vip->ColumnIndex(u"CardNumber")] = std::u16string(u"20001");
    mdb::RowId id;
    ASSERT_TRUE(vip->Insert(row, &id, nullptr).ok());
    ASSERT_TRUE(vip->Update(id, {{vip->ColumnIndex(u"VipPhone"), std::u16string(u"556")}}, nullptr).ok());
    auto cur = vip->Scan();
    ASSERT_TRUE(cur->Next());
    ASSERT_TRUE(vip->Delete(cur->row_id()).ok());
    ASSERT_TRUE(db->OpenTable(u"Log", &log).ok());
    auto lc = log->Scan();
    ASSERT_TRUE(lc->Next());
    ASSERT_TRUE(log->Update(lc->row_id(), {}, nullptr).ok());
    EXPECT_EQ(log->row_count(), 2u);
  }
  faults = CheckFaults(path, password);
  ASSERT_EQ(faults.size(), 1u) << ::testing::PrintToString(faults);
  EXPECT_NE(faults[0].find("note: table [EmployeeInfo]"), std::string::npos) << faults[0];
  std::string file = RunCommand("cat '" + path + "'"), utf16;
  for (char c : std::string("Encodedmarker")) utf16 += std::string{c, '\0'};
  EXPECT_EQ(file.find("Encodedmarker"), std::string::npos);
  EXPECT_EQ(file.find(utf16), std::string::npos);
  auto rows = MdbExport(path, "VipInfo");
  EXPECT_NE(std::find(rows.begin(), rows.end(), "29,\"Encodedmarker\",\"556\",,1,,\"20001\""), rows.end())
      << ::testing::PrintToString(rows);
  EXPECT_NE(RunCommand("node " USERMGR_SOURCE_DIR "/tests/node/dump_table.mjs '" + path + "' VipInfo tyy1059606243")
                .find("29,\"Encodedmarker\",\"556\""),
            std::string::npos);
}

// One wrong bit in the free-page map must not hand a live page of one table
// to another: the write fails with a corruption status and the file stays as
// it was.
TEST(FixtureWrite, AllocationRefusesAPageStillInUse) {
  std::string path = CopyFixture("mr_data_V2000_test.mdb", "claimed.mdb");
  uint32_t victim = 0;
  {
    std::unique_ptr<mdb::Pager> pager;
    ASSERT_TRUE(mdb::Pager::Open(mdb::Env::Default(), path, true, &pager).ok());
    mdb::Catalog catalog;
    ASSERT_TRUE(mdb::Catalog::Load(pager.get(), &catalog).ok());
    mdb::TableDef def;
    ASSERT_TRUE(mdb::ReadTableDef(pager.get(), catalog.FindTable(u"Table1")->tdef_page(), &def).ok());
    std::vector<uint32_t> pages;
    ASSERT_TRUE(mdb::MapPages(pager.get(), def.used_pages, &pages).ok());
    ASSERT_FALSE(pages.empty());
    victim = pages.front();
    // The victim becomes the first page the map lists as free.
    ASSERT_TRUE(pager->BeginWrite().ok());
    mdb::UsageMap free_map;
    ASSERT_TRUE(mdb::UsageMap::Load(pager.get(), mdb::kFreePageMapPtr, &free_map).ok());
    std::vector<uint32_t> listed;
    ASSERT_TRUE(free_map.Pages(pager.get(), pager->page_count(), &listed).ok());
    for (uint32_t p : listed)
      if (p < victim) {
        ASSERT_TRUE(free_map.Set(pager.get(), p, false, false).ok());
      }
    ASSERT_TRUE(free_map.Set(pager.get(), victim, true, false).ok());
    ASSERT_TRUE(pager->Commit().ok());
  }
  std::string before = RunCommand("md5sum < '" + path + "'");
  auto db = Open(path);
  std::unique_ptr<mdb::Table> t;
  ASSERT_TRUE(db->OpenTable(u"Table1", &t).ok());
  const std::u16string letters = u"abcdefghilmnopqrstuvxy";
  mdb::Status s;
  ASSERT_TRUE(db->Begin().ok());
  for (int k = 0; k < 400 && s.ok(); ++k) {
    std::u16string a = {u'q', letters[k % 22], letters[k / 22 % 22]};
    s = t->Insert(Table1Row(a, std::u16string(90, u'x'), k, true), nullptr, nullptr);
  }
  db->Rollback();
  EXPECT_EQ(s.code(), mdb::Status::Code::kCorruption) << s.ToString();
  EXPECT_NE(s.message().find("page " + std::to_string(victim) + " is listed as free but still belongs to table [Table1]"),
            std::string::npos)
      << s.ToString();
  db.reset();
  EXPECT_EQ(RunCommand("md5sum < '" + path + "'"), before);
}

// The free-page map in its other form, a list of bitmap pages, as larger
// files keep it: the checker reads it and allocation takes pages from it.
TEST(FixtureWrite, FreePageMapAsAListOfMapPages) {
  std::string path = Scratch("listed.mdb");
  mdb::CreateOptions options;
  ASSERT_TRUE(mdb::Database::Create(mdb::Env::Default(), path, options).ok());
  {
    auto db = Open(path, u"580274");
    std::unique_ptr<mdb::Table> t;
    ASSERT_TRUE(db->OpenTable(u"用户信息表", &t).ok());
    mdb::RowId id;
    ASSERT_TRUE(t->Insert({Value(), std::u16string(u"甲"), true, Value(), mdb::Date{1}, Value(),
                           mdb::Binary{std::string(40000, 'p')}},
                          &id, nullptr)
                    .ok());
    ASSERT_TRUE(t->Delete(id).ok());  // its photo's pages go back to the free map
  }
  std::vector<uint32_t> free_before;
  {
    std::unique_ptr<mdb::Pager> pager;
    ASSERT_TRUE(mdb::Pager::Open(mdb::Env::Default(), path, true, &pager).ok());
    ASSERT_TRUE(mdb::MapPages(pager.get(), mdb::kFreePageMapPtr, &free_before).ok());
    ASSERT_GE(free_before.size(), 5u);
    ASSERT_TRUE(pager->BeginWrite().ok());
    uint32_t map_page;
    ASSERT_TRUE(pager->Append(&map_page).ok());
    uint8_t bits[4096] = {0x05, 0x01};
    for (uint32_t p : free_before) bits[4 + p / 8] |= uint8_t(1 << (p % 8));
    ASSERT_TRUE(pager->Put(map_page, bits).ok());
    const uint8_t* p1;
    ASSERT_TRUE(pager->Get(1, &p1).ok());
    uint8_t page1[4096];
    std::memcpy(page1, p1, 4096);
    uint16_t start = mdb::jet4::Get16(page1 + 14) & 0x1FFF;  // row 0: the free-page map
    std::memset(page1 + start, 0, 69);
    page1[start] = 0x01;
    mdb::jet4::Put32(page1 + start + 1, map_page);
    ASSERT_TRUE(pager->Put(1, page1).ok());
    ASSERT_TRUE(pager->Commit().ok());
  }
  EXPECT_CLEAN(path, u"580274");
  {
    auto db = Open(path, u"580274");
    std::unique_ptr<mdb::Table> t;
    ASSERT_TRUE(db->OpenTable(u"用户信息表", &t).ok());
    ASSERT_TRUE(t->Insert({Value(), std::u16string(u"乙"), true, Value(), mdb::Date{1}, Value(),
                           mdb::Binary{std::string(20000, 'q')}},
                          nullptr, nullptr)
                    .ok());
  }
  EXPECT_CLEAN(path, u"580274");
  std::unique_ptr<mdb::Pager> pager;
  std::vector<uint32_t> free_after;
  ASSERT_TRUE(mdb::Pager::Open(mdb::Env::Default(), path, false, &pager).ok());
  ASSERT_TRUE(mdb::MapPages(pager.get(), mdb::kFreePageMapPtr, &free_after).ok());
  EXPECT_LT(free_after.size(), free_before.size());  // the photo took listed pages
  EXPECT_EQ(MdbExport(path, Utf8(u"用户信息表"), "-b strip").size(), 1u);
}

TEST(FixtureWrite, CheckFindsDamage) {
  std::string path = CopyFixture("mr_data_V2000_test.mdb", "damaged.mdb");
  {
    auto db = Open(path);
    std::unique_ptr<mdb::Table> t;
    ASSERT_TRUE(db->OpenTable(u"Table1", &t).ok());
    ASSERT_TRUE(t->Insert(Table1Row(u"x", u"y", 1, true), nullptr, nullptr).ok());
  }
  EXPECT_CLEAN(path);
  uint32_t rows;
  {
    auto db = Open(path);
    std::unique_ptr<mdb::Table> t;
    ASSERT_TRUE(db->OpenTable(u"Table1", &t).ok());
    rows = t->row_count();
  }
  // A row count left stale, as Access sometimes leaves them, is a note; the
  // next write puts it right.
  auto poke = [&](long offset, const void* bytes, size_t n) {
    FILE* f = fopen(path.c_str(), "r+b");
    ASSERT_TRUE(f);
    fseek(f, offset, SEEK_SET);
    fwrite(bytes, n, 1, f);
    fclose(f);
  };
  uint32_t tdef = 0;
  {
    std::unique_ptr<mdb::Pager> pager;
    mdb::Catalog catalog;
    ASSERT_TRUE(mdb::Pager::Open(mdb::Env::Default(), path, false, &pager).ok());
    ASSERT_TRUE(mdb::Catalog::Load(pager.get(), &catalog).ok());
    tdef = catalog.FindTable(u"Table1")->tdef_page();
  }
  uint32_t bogus = 999;
  poke(long(tdef) * 4096 + 16, &bogus, 4);
  auto faults = CheckFaults(path);
  ASSERT_EQ(faults.size(), 1u) << ::testing::PrintToString(faults);
  EXPECT_NE(faults[0].find("note: table [Table1]: definition says 999 rows, pages hold " + std::to_string(rows)),
            std::string::npos)
      << faults[0];
  {
    auto db = Open(path);
    std::unique_ptr<mdb::Table> t;
    ASSERT_TRUE(db->OpenTable(u"Table1", &t).ok());
    ASSERT_TRUE(t->Insert(Table1Row(u"q", u"y", 2, true), nullptr, nullptr).ok());
    EXPECT_EQ(t->row_count(), rows + 1);
  }
  EXPECT_CLEAN(path);
  // A table left without permission rows is a fault: Access may refuse it.
  {
    auto db = Open(path);
    std::unique_ptr<mdb::Table> aces;
    ASSERT_TRUE(db->OpenTable(u"MSysACEs", &aces).ok());
    std::vector<mdb::RowId> of_table1;
    auto c = aces->Scan();
    while (c->Next()) {
      Value v;
      ASSERT_TRUE(c->Get(aces->ColumnIndex(u"ObjectId"), &v).ok());
      if (std::get<int64_t>(v) == int64_t(tdef)) of_table1.push_back(c->row_id());
    }
    ASSERT_FALSE(of_table1.empty());
    for (const mdb::RowId& id : of_table1) ASSERT_TRUE(aces->Delete(id).ok());
  }
  faults = CheckFaults(path);
  ASSERT_EQ(faults.size(), 1u) << ::testing::PrintToString(faults);
  EXPECT_EQ(faults[0], "table [Table1] has no permission rows; Access may refuse to open it");
  // A damaged index entry is a fault.
  std::unique_ptr<mdb::Pager> pager;
  mdb::TableDef def;
  ASSERT_TRUE(mdb::Pager::Open(mdb::Env::Default(), path, false, &pager).ok());
  ASSERT_TRUE(mdb::ReadTableDef(pager.get(), tdef, &def).ok());
  pager.reset();
  uint8_t junk = 0x41;
  poke(long(def.real_indexes[0].first_page) * 4096 + 0x1E0 + 1, &junk, 1);
  faults = CheckFaults(path);
  ASSERT_FALSE(faults.empty());
  EXPECT_NE(faults[0].find("Table1"), std::string::npos) << faults[0];
}

// A text changed in its row but not in its index entry: the checker makes
// the row's key again and finds the stored one differs.
TEST(FixtureWrite, CheckFindsAKeyThatIsNotItsRows) {
  std::string path = CopyFixture("mr_data_V2000_test.mdb", "stale_key.mdb");
  {
    auto db = Open(path);
    std::unique_ptr<mdb::Table> t;
    ASSERT_TRUE(db->OpenTable(u"Table1", &t).ok());
    ASSERT_TRUE(t->Insert(Table1Row(u"keyprobe", u"y", 1, true), nullptr, nullptr).ok());
  }
  EXPECT_CLEAN(path);
  std::string bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  size_t at = bytes.find("keyprobe");  // stored compressed: one byte a letter
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(bytes.find("keyprobe", at + 1), std::string::npos);
  bytes[at + 7] = 'f';
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
  }
  auto faults = CheckFaults(path);
  ASSERT_EQ(faults.size(), 1u) << ::testing::PrintToString(faults);
  EXPECT_NE(faults[0].find("table [Table1] index [PrimaryKey]: 1 entries hold another key than their row's"),
            std::string::npos)
      << faults[0];
}

}  // namespace
