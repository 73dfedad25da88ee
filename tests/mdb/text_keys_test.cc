// Text index keys against the keys Access wrote: every stored entry of every
// text index of every fixture is made again from its row and compared byte
// for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <memory>

#include "mdb/database_impl.h"
#include "mdb/index.h"
#include "mdb/index_key.h"
#include "mdb/sql.h"
#include "mdb/table_impl.h"
#include "mdb/value_format.h"
#include "reader_util.h"

namespace {

using mdb::Status;

std::string Hex(const std::string& s) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) out += std::string{kDigits[c >> 4], kDigits[c & 15]};
  return out;
}

bool HasTextColumn(const mdb::TableDef& def, const mdb::RealIndexDef& r) {
  for (const auto& ic : r.columns)
    for (const auto& c : def.columns)
      if (c.number == ic.column_number &&
          (c.column.type == mdb::ColumnType::kText || c.column.type == mdb::ColumnType::kMemo))
        return true;
  return false;
}

struct Tally {
  size_t keys = 0;       // entries compared
  size_t other_form = 0; // equal to the other form Access has written
  size_t unknown = 0;    // keys the sort order does not show (refused on writes)
  size_t wrong = 0;
};

// Every entry of every text index of the file; faults go to the test.
Tally CompareFile(const std::string& path) {
  Tally t;
  mdb::OpenOptions options;
  options.read_only = true;
  options.password = readertest::FixturePassword(path);
  std::unique_ptr<mdb::Database> db;
  Status s = mdb::Database::Open(mdb::Env::Default(), path, options, &db);
  EXPECT_TRUE(s.ok()) << s.ToString();
  if (!s.ok()) return t;
  auto* d = static_cast<mdb::DatabaseImpl*>(db.get());
  EXPECT_TRUE(d->BeginRead().ok());
  for (const mdb::CatalogEntry& e : d->catalog().entries()) {
    if (!e.is_table() || e.tdef_page() == 0) continue;
    std::unique_ptr<mdb::TableImpl> table;
    if (!d->OpenTableAt(e.tdef_page(), &table).ok()) continue;
    const mdb::TableDef& def = table->def();
    for (const mdb::RealIndexDef& r : def.real_indexes) {
      if (!HasTextColumn(def, r)) continue;
      std::vector<mdb::IndexEntry> entries;
      std::vector<uint32_t> pages;
      s = mdb::ReadIndex(d->pager(), r.first_page, &entries, &pages);
      EXPECT_TRUE(s.ok()) << s.ToString();
      for (const mdb::IndexEntry& entry : entries) {
        std::string bytes;
        std::vector<mdb::Value> values;
        s = table->ReadRowBytes(mdb::RowId{entry.page, entry.row}, &bytes);
        if (s.ok()) s = table->DecodeRow(bytes, &values);
        EXPECT_TRUE(s.ok()) << mdb::Utf16ToUtf8Lossy(table->name()) << ": " << s.ToString();
        if (!s.ok()) continue;
        ++t.keys;
        std::string key, other;
        s = mdb::EncodeIndexKey(def, r, values, &key);
        if (!s.ok()) {
          // Only a sort order other than General leaves keys unknown.
          EXPECT_EQ(s.code(), Status::Code::kNotSupported) << s.ToString();
          for (const auto& ic : r.columns)
            for (const auto& c : def.columns)
              if (c.number == ic.column_number && c.column.type == mdb::ColumnType::kText) {
                EXPECT_FALSE(mdb::ColumnSortOrder(c).general_legacy()) << s.ToString();
              }
          ++t.unknown;
          continue;
        }
        if (key == entry.key) continue;
        if (mdb::EncodeIndexKeyTwoPlaceExpansions(def, r, values, &other).ok() && other == entry.key) {
          ++t.other_form;
          continue;
        }
        if (++t.wrong <= 5)
          ADD_FAILURE() << mdb::Utf16ToUtf8Lossy(table->name()) << " index " << r.number << " row " << entry.page
                        << ":" << int(entry.row) << "\n  stored " << Hex(entry.key) << "\n  ours   " << Hex(key);
      }
    }
  }
  d->EndRead();
  return t;
}

TEST(TextKeys, EveryStoredKeyOfEveryFixtureIsOurs) {
  std::vector<std::string> files = readertest::FixtureFiles();
  for (const std::string& f : readertest::RealWorldFiles()) files.push_back(f);
  ASSERT_GE(files.size(), 25u);
  Tally all;
  std::map<std::string, Tally> by_file;
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    if (path.find("VIP-Manager") != std::string::npos) {
      // Encoded (RC4 over every page): the engine opens such files only
      // when it can decode them.
      mdb::OpenOptions options;
      options.read_only = true;
      options.password = readertest::FixturePassword(path);
      std::unique_ptr<mdb::Database> db;
      if (mdb::Database::Open(mdb::Env::Default(), path, options, &db).code() == Status::Code::kNotSupported)
        continue;
    }
    Tally t = CompareFile(path);
    by_file[std::filesystem::path(path).filename().string()] = t;
    all.keys += t.keys;
    all.other_form += t.other_form;
    all.unknown += t.unknown;
    all.wrong += t.wrong;
  }
  EXPECT_EQ(all.wrong, 0u);
  // The files of every character and of mixed strings: each of their
  // 103,000 keys (per file) exactly as the independent engine wrote it.
  for (const char* name : {"textkeys_general_V2000.mdb", "textkeys_general_V2003.mdb"}) {
    const Tally& t = by_file[name];
    EXPECT_GE(t.keys, 63487u + 2 * 20000u) << name;
    EXPECT_EQ(t.other_form + t.unknown, 0u) << name;
  }
  // Access's own keys: only Northwind's two texts with ß show the other form.
  EXPECT_EQ(all.other_form, 2u);
  EXPECT_GE(all.keys - by_file["textkeys_general_V2000.mdb"].keys - by_file["textkeys_general_V2003.mdb"].keys, 6000u);
  std::printf("text keys compared: %lu (%lu in the other form, %lu not known under their sort order)\n",
              (unsigned long)all.keys, (unsigned long)all.other_form, (unsigned long)all.unknown);
}

// What the fixtures do not show: descending texts, texts past 255
// characters, and the other sort orders' refusals.
TEST(TextKeys, DescendingLongAndOtherSortOrders) {
  auto key = [](std::u16string_view t, bool asc, mdb::SortOrder o = {}) {
    std::string k;
    Status s = mdb::EncodeTextKey(t, o, asc, &k);
    EXPECT_TRUE(s.ok()) << s.ToString();
    return k;
  };
  EXPECT_EQ(Hex(key(u"abc", true)), "4a4c4d0100");
  EXPECT_EQ(Hex(key(u"abc", false)), "b5b3b2feff00");  // inverted with one more 00, then 00
  // Descending keys order the other way, prefixes included.
  std::vector<std::u16string> texts = {u"", u"a", u"ab", u"abc", u"abd", u"ab-c", u"é", u"e", u"张三", u"Z"};
  for (const auto& a : texts)
    for (const auto& b : texts) {
      std::string aa = key(a, true), ab = key(b, true), da = key(a, false), db = key(b, false);
      if (aa < ab) {
        EXPECT_GT(da, db) << mdb::Utf16ToUtf8Lossy(a) << " / " << mdb::Utf16ToUtf8Lossy(b);
      }
    }
  // Only the first 255 characters count; spaces at the end of those do not.
  std::u16string long_text(254, u'x');
  EXPECT_EQ(key(long_text + u"  yz", true), key(long_text, true));
  EXPECT_EQ(key(long_text + u"y" + std::u16string(100, u'q'), true), key(long_text + u"y", true));
  EXPECT_EQ(key(u"ab  ", true), key(u"ab", true));
  EXPECT_NE(key(u"a b", true), key(u"ab", true));
  // Chinese PRC: ASCII as General, ideographs not known.
  mdb::SortOrder prc{2052, 0};
  EXPECT_EQ(key(u"Admin-1", true, prc), key(u"Admin-1", true));
  std::string k;
  Status s = mdb::EncodeTextKey(u"张三", prc, true, &k);
  EXPECT_EQ(s.code(), Status::Code::kNotSupported);
  EXPECT_NE(s.message().find("U+5F20"), std::string::npos) << s.message();
  EXPECT_NE(s.message().find("2052"), std::string::npos) << s.message();
  // Turkish: the capital I sorts as the dotless i.
  EXPECT_EQ(Hex(key(u"SummaryInfo", true, mdb::SortOrder{1055, 0})), "6b6f60604a6976580662536401" "00");
  // Comparisons (SQL) agree with the keys, under General and where some
  // texts' keys are not known.
  for (mdb::SortOrder o : {mdb::SortOrder{}, prc})
    for (const auto& a : texts)
      for (const auto& b : texts) {
        int want = mdb::TextCollationKey(a, o).compare(mdb::TextCollationKey(b, o));
        EXPECT_EQ(mdb::CompareByKeys(a, b, o), want < 0 ? -1 : want > 0) << mdb::Utf16ToUtf8Lossy(a) << " / "
                                                                          << mdb::Utf16ToUtf8Lossy(b);
      }
  // The newer General form and unmeasured orders: nothing known.
  EXPECT_FALSE(mdb::TextKeyKnown(u"a", mdb::SortOrder{1033, 1}));
  EXPECT_FALSE(mdb::TextKeyKnown(u"a", mdb::SortOrder{1049, 0}));
}

// An exact match on an indexed text column seeks the index; it must find the
// rows a scan finds (the same condition written so that no index applies),
// also where Access stored a key in its other form (Northwind's ß texts).
TEST(TextKeys, SeeksFindWhatScansFind) {
  struct Case {
    const char* file;
    std::u16string table, column;
  };
  std::string realworld = readertest::RealWorldDir() + "/";
  std::vector<Case> cases = {
      {"GabrielLogue__Northwind-Database-Example__Northwind.mdb", u"Suppliers", u"CompanyName"},
      {"GabrielLogue__Northwind-Database-Example__Northwind.mdb", u"Products", u"ProductName"},
      {"GabrielLogue__Northwind-Database-Example__Northwind.mdb", u"Customers", u"City"},
      {"bostonhsu__RonghengERP__db.mdb", u"GongWei", u"GongWeiNumber"},
  };
  size_t seeks = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    mdb::OpenOptions o;
    o.read_only = true;
    std::unique_ptr<mdb::Database> db;
    ASSERT_TRUE(mdb::Database::Open(mdb::Env::Default(), realworld + c.file, o, &db).ok());
    std::unique_ptr<mdb::Table> t;
    ASSERT_TRUE(db->OpenTable(c.table, &t).ok());
    int col = t->ColumnIndex(c.column);
    ASSERT_GE(col, 0);
    std::set<std::u16string> values;
    auto cur = t->Scan();
    while (cur->Next()) {
      mdb::Value v;
      ASSERT_TRUE(cur->Get(col, &v).ok());
      if (auto* s = std::get_if<std::u16string>(&v); s && !s->empty() && s->find(u'\'') == std::u16string::npos)
        values.insert(*s);
    }
    auto count = [&](const std::u16string& where) {
      std::unique_ptr<mdb::RecordSet> rs;
      Status s = mdb::ExecuteQuery(db.get(), u"select * from [" + c.table + u"] where " + where, &rs);
      EXPECT_TRUE(s.ok()) << s.ToString();
      size_t n = 0;
      for (; rs && !rs->AtEnd(); rs->MoveNext()) ++n;
      return n;
    };
    for (const auto& v : values) {
      size_t seek = count(u"[" + c.column + u"]='" + v + u"'");
      EXPECT_GE(seek, 1u) << mdb::Utf16ToUtf8Lossy(v);
      EXPECT_EQ(seek, count(u"[" + c.column + u"] & ''='" + v + u"'")) << mdb::Utf16ToUtf8Lossy(v);
      ++seeks;
    }
  }
  EXPECT_GE(seeks, 250u);
}

}  // namespace
