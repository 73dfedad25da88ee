// The read side on real files and on hand-built pages: passwords, foreign and
// damaged files, long values, text forms, table definitions.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <random>
#include <set>

#include <gtest/gtest.h>

#include "mdb/header.h"
#include "mdb/jet4.h"
#include "mdb/lval_read.h"
#include "mdb/mdb.h"
#include "mdb/mem_env.h"
#include "mdb/pager.h"
#include "mdb/row_read.h"
#include "mdb/text_codec_jet.h"
#include "mdb/value_format.h"
#include "reader_util.h"

namespace {

using mdb::Status;
using Code = mdb::Status::Code;

std::string Fixture(const std::string& name) { return readertest::FixturesDir() + "/" + name; }

Status OpenBytes(mdb::MemEnv* env, const std::string& bytes, const std::u16string& password,
                 std::unique_ptr<mdb::Database>* db) {
  env->SetFile("x.mdb", bytes);
  mdb::OpenOptions o;
  o.read_only = true;
  o.password = password;
  return mdb::Database::Open(env, "x.mdb", o, db);
}

// Reads every column of every row of every table; the first error.
Status ReadEverything(mdb::Database* db, int* rows) {
  std::vector<std::u16string> names;
  MDB_RETURN_IF_ERROR(db->ListTables(&names));
  for (const auto& n : names) {
    std::unique_ptr<mdb::Table> t;
    MDB_RETURN_IF_ERROR(db->OpenTable(n, &t));
    auto cur = t->Scan();
    while (cur->Next()) {
      ++*rows;
      for (size_t i = 0; i < t->columns().size(); ++i) {
        mdb::Value v;
        MDB_RETURN_IF_ERROR(cur->Get(int(i), &v));
      }
    }
    MDB_RETURN_IF_ERROR(cur->status());
  }
  return Status::OK();
}

TEST(Password, ProtectedFileOpensOnlyWithItsPassword) {
  mdb::MemEnv env;
  std::string bytes = readertest::ReadFile(Fixture("mr_password_V2000_with-password.mdb"));
  std::unique_ptr<mdb::Database> db;
  EXPECT_EQ(OpenBytes(&env, bytes, u"", &db).code(), Code::kBadPassword);
  EXPECT_EQ(OpenBytes(&env, bytes, u"Password", &db).code(), Code::kBadPassword);
  EXPECT_EQ(OpenBytes(&env, bytes, u"password1", &db).code(), Code::kBadPassword);
  ASSERT_TRUE(OpenBytes(&env, bytes, u"password", &db).ok());
  int rows = 0;
  ASSERT_TRUE(ReadEverything(db.get(), &rows).ok());
  EXPECT_EQ(rows, 3);
}

TEST(Password, FileWithoutPasswordOpensWithAny) {
  mdb::MemEnv env;
  std::string bytes = readertest::ReadFile(Fixture("mr_password_V2003_no-password.mdb"));
  std::unique_ptr<mdb::Database> db;
  EXPECT_TRUE(OpenBytes(&env, bytes, u"", &db).ok());
  EXPECT_TRUE(OpenBytes(&env, bytes, u"580274", &db).ok());
}

TEST(Password, SetPasswordIsReadBackAndEnforced) {
  std::string bytes = readertest::ReadFile(Fixture("mr_password_V2003_no-password.mdb"));
  uint8_t* page0 = reinterpret_cast<uint8_t*>(bytes.data());
  ASSERT_TRUE(mdb::SetPassword(page0, u"580274").ok());
  mdb::DatabaseHeader h;
  ASSERT_TRUE(mdb::ParseHeader(page0, mdb::jet4::kPageSize, &h).ok());
  EXPECT_EQ(h.password, u"580274");
  EXPECT_EQ(h.code_page, 1252);  // the rest of the masked block is intact

  mdb::MemEnv env;
  std::unique_ptr<mdb::Database> db;
  EXPECT_EQ(OpenBytes(&env, bytes, u"", &db).code(), Code::kBadPassword);
  EXPECT_TRUE(OpenBytes(&env, bytes, u"580274", &db).ok());

  // Twenty characters fit, twenty-one do not; clearing removes it.
  EXPECT_TRUE(mdb::SetPassword(page0, u"abcdefghijklmnopqrst").ok());
  ASSERT_TRUE(mdb::ParseHeader(page0, mdb::jet4::kPageSize, &h).ok());
  EXPECT_EQ(h.password, u"abcdefghijklmnopqrst");
  EXPECT_EQ(mdb::SetPassword(page0, u"abcdefghijklmnopqrstu").code(), Code::kInvalidArgument);
  ASSERT_TRUE(mdb::SetPassword(page0, u"").ok());
  ASSERT_TRUE(mdb::ParseHeader(page0, mdb::jet4::kPageSize, &h).ok());
  EXPECT_TRUE(h.password.empty());
  EXPECT_TRUE(OpenBytes(&env, bytes, u"anything", &db).ok());
}

TEST(ForeignFiles, AreRefusedWithAClearStatus) {
  std::string good = readertest::ReadFile(Fixture("mr_data_V2003_empty.mdb"));
  mdb::MemEnv env;
  std::unique_ptr<mdb::Database> db;

  std::string jet3 = good;
  jet3[mdb::jet4::kHeaderVersionOffset] = 0;
  Status s = OpenBytes(&env, jet3, u"", &db);
  EXPECT_EQ(s.code(), Code::kNotSupported) << s.ToString();
  EXPECT_NE(s.message().find("Access 97"), std::string::npos) << s.message();

  // A real Access 97 file has 2 KB pages, so its size need not fit 4 KB pages.
  s = OpenBytes(&env, jet3.substr(0, 5 * 4096 + 2048), u"", &db);
  EXPECT_EQ(s.code(), Code::kNotSupported) << s.ToString();
  EXPECT_EQ(mdb::IdentifyFormat(reinterpret_cast<const uint8_t*>(jet3.data()), 32).code(), Code::kNotSupported);
  EXPECT_TRUE(mdb::IdentifyFormat(reinterpret_cast<const uint8_t*>(good.data()), 32).ok());

  std::string ace = good;
  std::memcpy(&ace[4], "Standard ACE DB", 15);
  ace[mdb::jet4::kHeaderVersionOffset] = 2;
  s = OpenBytes(&env, ace, u"", &db);
  EXPECT_EQ(s.code(), Code::kNotSupported) << s.ToString();
  EXPECT_NE(s.message().find(".accdb"), std::string::npos) << s.message();

  std::string newer = good;
  newer[mdb::jet4::kHeaderVersionOffset] = 3;
  EXPECT_EQ(OpenBytes(&env, newer, u"", &db).code(), Code::kNotSupported);

  std::string text(3 * 4096, 'x');
  s = OpenBytes(&env, text, u"", &db);
  EXPECT_FALSE(s.ok());
  EXPECT_TRUE(s.code() == Code::kCorruption || s.code() == Code::kNotSupported) << s.ToString();

  EXPECT_FALSE(OpenBytes(&env, "", u"", &db).ok());
  EXPECT_FALSE(OpenBytes(&env, good.substr(0, 100), u"", &db).ok());
  // Only the header page: the catalog is missing.
  s = OpenBytes(&env, good.substr(0, 4096), u"", &db);
  EXPECT_EQ(s.code(), Code::kCorruption) << s.ToString();
}

// Truncations and random damage: every outcome is a status, never a crash
// (the sanitizer build catches bad memory accesses), for reads and for the
// checker, and undamaged pages still read.
TEST(DamagedFiles, TruncatedAndCorruptedCopiesGiveStatuses) {
  std::mt19937 rng(20260101);
  for (const std::string& path : readertest::FixtureFiles()) {
    SCOPED_TRACE(path);
    std::string good = readertest::ReadFile(path);
    std::u16string pw = readertest::FixturePassword(path);
    uint32_t pages = uint32_t(good.size() / 4096);
    for (uint32_t keep : {3u, 5u, 8u, pages / 2, pages - 1}) {
      if (keep >= pages || keep == 0) continue;
      mdb::MemEnv env;
      std::unique_ptr<mdb::Database> db;
      if (!OpenBytes(&env, good.substr(0, size_t(keep) * 4096), pw, &db).ok()) continue;
      int rows = 0;
      (void)ReadEverything(db.get(), &rows);
    }
    for (int round = 0; round < 40; ++round) {
      std::string bad = good;
      int flips = 1 + int(rng() % 64);
      for (int i = 0; i < flips; ++i) {
        size_t at = 4096 + rng() % (bad.size() - 4096);
        bad[at] = char(rng());
      }
      mdb::MemEnv env;
      std::unique_ptr<mdb::Database> db;
      if (!OpenBytes(&env, bad, pw, &db).ok()) continue;
      int rows = 0;
      Status s = ReadEverything(db.get(), &rows);
      if (!s.ok()) {
        EXPECT_TRUE(s.code() == Code::kCorruption || s.code() == Code::kNotSupported) << s.ToString();
      }
      // The checker reads every structure of the damaged file too.
      if (good.size() < (1u << 20) && round % 4 == 0) {
        std::vector<std::string> faults, notes;
        (void)db->Check(&faults, &notes);
      }
    }
  }
}

// ---- Long values on hand-built pages --------------------------------------------------

class LongValues : public ::testing::Test {
 protected:
  static constexpr uint32_t kPages = 9;

  void SetUp() override {
    std::string header = readertest::ReadFile(Fixture("mr_data_V2003_empty.mdb")).substr(0, 4096);
    file_ = header + std::string((kPages - 1) * 4096, '\0');
    for (uint32_t p = 1; p < kPages; ++p) {
      uint8_t* page = Page(p);
      page[0] = mdb::jet4::kPageData;
      page[1] = 1;
      std::memcpy(page + 4, "LVAL", 4);
    }
  }

  uint8_t* Page(uint32_t p) { return reinterpret_cast<uint8_t*>(&file_[size_t(p) * 4096]); }

  // Appends a row to page p; returns its row number.
  uint16_t AddRow(uint32_t p, const std::string& bytes) {
    uint8_t* page = Page(p);
    uint16_t n = mdb::jet4::Get16(page + 12);
    uint16_t end = n == 0 ? 4096 : (mdb::jet4::Get16(page + 14 + 2 * (n - 1)) & 0x1FFF);
    uint16_t start = uint16_t(end - bytes.size());
    std::memcpy(page + start, bytes.data(), bytes.size());
    mdb::jet4::Put16(page + 14 + 2 * n, start);
    mdb::jet4::Put16(page + 12, uint16_t(n + 1));
    return n;
  }

  static std::string Field(uint32_t head, uint32_t ptr) {
    std::string f(12, '\0');
    mdb::jet4::Put32(reinterpret_cast<uint8_t*>(&f[0]), head);
    mdb::jet4::Put32(reinterpret_cast<uint8_t*>(&f[4]), ptr);
    return f;
  }
  static std::string Link(uint32_t next, const std::string& data) {
    std::string r(4, '\0');
    mdb::jet4::Put32(reinterpret_cast<uint8_t*>(&r[0]), next);
    return r + data;
  }

  Status Read(const std::string& field, std::string* out) {
    env_.SetFile("lv.mdb", file_);
    std::unique_ptr<mdb::Pager> pager;
    MDB_RETURN_IF_ERROR(mdb::Pager::Open(&env_, "lv.mdb", false, &pager));
    return mdb::ReadLongValue(pager.get(), reinterpret_cast<const uint8_t*>(field.data()), field.size(), out);
  }

  std::string file_;
  mdb::MemEnv env_;
};

TEST_F(LongValues, InlineSinglePageAndChains) {
  std::string out;
  std::string in = Field(mdb::jet4::kLvalInline | 5, 0) + "hello";
  ASSERT_TRUE(Read(in, &out).ok());
  EXPECT_EQ(out, "hello");

  std::string one(3000, 'a');
  uint16_t r = AddRow(1, one);
  ASSERT_TRUE(Read(Field(mdb::jet4::kLvalSinglePage | 3000, mdb::jet4::MakePtr(1, r)), &out).ok());
  EXPECT_EQ(out, one);

  // Three links over three pages, the last one longer than needed.
  std::string a(4000, 'x'), b(4000, 'y'), c(100, 'z');
  uint16_t rc = AddRow(4, Link(0, c + "trailing"));
  uint16_t rb = AddRow(3, Link(mdb::jet4::MakePtr(4, rc), b));
  uint16_t ra = AddRow(2, Link(mdb::jet4::MakePtr(3, rb), a));
  ASSERT_TRUE(Read(Field(8100, mdb::jet4::MakePtr(2, ra)), &out).ok());
  EXPECT_EQ(out, a + b + c);
}

TEST_F(LongValues, BrokenChainsAreCorruption) {
  std::string out;
  // Inline length past the row.
  EXPECT_EQ(Read(Field(mdb::jet4::kLvalInline | 50, 0) + "short", &out).code(), Code::kCorruption);
  // A chain that points at itself.
  uint16_t r = AddRow(1, Link(0, std::string(10, 'q')));
  mdb::jet4::Put32(Page(1) + (mdb::jet4::Get16(Page(1) + 14) & 0x1FFF), mdb::jet4::MakePtr(1, r));
  EXPECT_EQ(Read(Field(100, mdb::jet4::MakePtr(1, r)), &out).code(), Code::kCorruption);
  // A loop of two rows, and one entered after a first row.
  uint16_t x = AddRow(6, Link(0, std::string(10, 'x')));
  uint16_t y = AddRow(7, Link(mdb::jet4::MakePtr(6, x), std::string(10, 'y')));
  mdb::jet4::Put32(Page(6) + (mdb::jet4::Get16(Page(6) + 14) & 0x1FFF), mdb::jet4::MakePtr(7, y));
  EXPECT_EQ(Read(Field(100000, mdb::jet4::MakePtr(6, x)), &out).code(), Code::kCorruption);
  uint16_t w = AddRow(8, Link(mdb::jet4::MakePtr(6, x), std::string(10, 'w')));
  EXPECT_EQ(Read(Field(100000, mdb::jet4::MakePtr(8, w)), &out).code(), Code::kCorruption);
  // A chain that ends before the length is reached.
  uint16_t e = AddRow(2, Link(0, std::string(10, 'e')));
  EXPECT_EQ(Read(Field(100, mdb::jet4::MakePtr(2, e)), &out).code(), Code::kCorruption);
  // Pointers past the file, to a missing row, to a page of another kind.
  EXPECT_EQ(Read(Field(100, mdb::jet4::MakePtr(999, 0)), &out).code(), Code::kCorruption);
  EXPECT_EQ(Read(Field(mdb::jet4::kLvalSinglePage | 10, mdb::jet4::MakePtr(5, 7)), &out).code(), Code::kCorruption);
  EXPECT_EQ(Read(Field(mdb::jet4::kLvalSinglePage | 10, mdb::jet4::MakePtr(0, 0)), &out).code(), Code::kCorruption);
  // A length beyond what the engine will hold in memory.
  EXPECT_EQ(Read(Field(0x3FFFFFFF, mdb::jet4::MakePtr(1, 0)), &out).code(), Code::kNotSupported);
}

// ---- Text -----------------------------------------------------------------------------

TEST(JetText, CompressedAndPlainForms) {
  auto bytes = [](std::initializer_list<int> l) {
    std::string s;
    for (int c : l) s.push_back(char(c));
    return s;
  };
  auto decode = [](const std::string& s) {
    return mdb::DecodeJetText(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  };
  EXPECT_EQ(decode(bytes({'a', 0, 'b', 0})), u"ab");
  EXPECT_EQ(decode(bytes({0xFF, 0xFE, 'a', 'b'})), u"ab");
  // One-byte run, switch, two-byte run (Cyrillic), switch back.
  EXPECT_EQ(decode(bytes({0xFF, 0xFE, 'x', 0, 0x1C, 0x04, 0x38, 0x04, 0, 'y'})), u"xМиy");
  // FF FE alone is U+FEFF stored plainly (Access stores an empty text empty).
  EXPECT_EQ(decode(bytes({0xFF, 0xFE})), u"\uFEFF");
  EXPECT_EQ(decode(bytes({0xFF, 0xFE, 0, 0x41})), u"");  // a dangling half character is dropped
  // In a two-byte run a zero low byte switches back, even before a non-zero byte.
  EXPECT_EQ(decode(bytes({0xFF, 0xFE, 0, 0, 0x4E})), u"N");
  // Decoding into a string that held a longer text leaves nothing of it.
  std::u16string reused = u"a much longer text than the next ones";
  std::string ok = bytes({0xFF, 0xFE, 'o', 'k'}), odd = bytes({'a', 0, 'b'});
  mdb::DecodeJetText(reinterpret_cast<const uint8_t*>(ok.data()), ok.size(), &reused);
  EXPECT_EQ(reused, u"ok");
  mdb::DecodeJetText(reinterpret_cast<const uint8_t*>(odd.data()), odd.size(), &reused);
  EXPECT_EQ(reused, u"a");  // a stray last byte is no character

  std::string latin = mdb::EncodeJetText(u"ääkkösiä", true);
  EXPECT_EQ(latin.size(), 2u + 8u);
  EXPECT_EQ(decode(latin), u"ääkkösiä");
  std::string han = mdb::EncodeJetText(u"张三", true);
  EXPECT_EQ(han.size(), 4u);
  EXPECT_EQ(decode(han), u"张三");
  EXPECT_EQ(mdb::EncodeJetText(u"abc", false).size(), 6u);
  EXPECT_EQ(decode(mdb::EncodeJetText(u"", true)), u"");
  // A text starting with U+FEFF always takes the compressed form, which no
  // reader can take for anything else.
  for (bool compress : {true, false}) {
    for (std::u16string t : {std::u16string(u"\uFEFF"), std::u16string(u"\uFEFFab"), std::u16string(u"\uFEFF张a")}) {
      std::string enc = mdb::EncodeJetText(t, compress);
      EXPECT_EQ(enc.substr(0, 3), bytes({0xFF, 0xFE, 0}));
      EXPECT_EQ(decode(enc), t);
    }
  }
  EXPECT_TRUE(mdb::JetTextStorable(u"\uFEFF张"));
  EXPECT_FALSE(mdb::JetTextStorable(u"\uFEFF一"));  // U+4E00: its zero byte would switch runs
}

TEST(ValueFormat, DecimalsMoneyAndGuids) {
  mdb::Decimal d;
  d.lo = 12345;
  d.scale = 2;
  EXPECT_EQ(mdb::FormatDecimal(d), "123.45");
  d.negative = true;
  d.scale = 7;
  EXPECT_EQ(mdb::FormatDecimal(d), "-0.0012345");
  mdb::Decimal big;
  big.hi = 0xFFFFFFFF;
  big.mid = 0xFFFFFFFF;
  big.lo = 0xFFFFFFFF;
  EXPECT_EQ(mdb::FormatDecimal(big), "79228162514264337593543950335");
  EXPECT_EQ(mdb::FormatValueCsv(mdb::Value(mdb::Money{-35000})), "-3.5000");
  mdb::Guid g;
  for (int i = 0; i < 16; ++i) g.bytes[i] = uint8_t(i);
  EXPECT_EQ(mdb::FormatValueCsv(mdb::Value(g)), "{03020100-0504-0706-0809-0A0B0C0D0E0F}");
}

// ---- Files from public projects -----------------------------------------------------

// Every file Access made in ordinary projects opens (the encoded one too,
// deciphered page by page) and checks without a fault; what the checker
// notes names the table and what Access left behind. Access 97 files are
// refused with a status that names their format.
TEST(RealWorldFiles, OpenAndCheckCleanOrSayWhatIsWrong) {
  const std::string dir = readertest::FixturesDir() + "/../realworld";
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    if (e.path().extension() == ".mdb") files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 10u) << dir;
  size_t jet3 = 0, noted = 0;
  for (const std::string& f : files) {
    SCOPED_TRACE(f);
    mdb::OpenOptions o;
    o.read_only = true;
    if (f.find("jaypabs__") != std::string::npos) o.password = u"12345";
    if (f.find("coffeeBreaksama__") != std::string::npos) o.password = u"tyy1059606243";
    std::unique_ptr<mdb::Database> db;
    Status s = mdb::Database::Open(mdb::Env::Default(), f, o, &db);
    if (std::filesystem::path(f).parent_path().filename() == "jet3") {
      ++jet3;
      EXPECT_EQ(s.code(), Code::kNotSupported) << s.ToString();
      EXPECT_NE(s.message().find("Access 97 (Jet 3)"), std::string::npos) << s.message();
      continue;
    }
    ASSERT_TRUE(s.ok()) << s.ToString();
    int rows = 0;
    EXPECT_TRUE(ReadEverything(db.get(), &rows).ok());
    EXPECT_GT(rows, 0);
    std::vector<std::string> faults, notes;
    ASSERT_TRUE(db->Check(&faults, &notes).ok());
    EXPECT_TRUE(faults.empty()) << ::testing::PrintToString(faults);
    for (const std::string& n : notes) {
      EXPECT_EQ(n.rfind("table [", 0), 0u) << n;
      EXPECT_TRUE(n.find("rows, pages hold") != std::string::npos ||
                  n.find("node entries lie above their child's last entry") != std::string::npos)
          << n;
    }
    noted += !notes.empty();
  }
  EXPECT_EQ(jet3, 2u);
  EXPECT_GE(noted, 5u);  // the stale counts the files' notes list
}

// ---- Definitions of the fixture tables ----------------------------------------------

TEST(TableDefinitions, ColumnsIndexesAndRelationshipsOfRealFiles) {
  mdb::OpenOptions o;
  o.read_only = true;
  std::unique_ptr<mdb::Database> db;
  ASSERT_TRUE(mdb::Database::Open(mdb::Env::Default(), Fixture("mr_data_V2000_test.mdb"), o, &db).ok());
  std::unique_ptr<mdb::Table> t;
  ASSERT_TRUE(db->OpenTable(u"table1", &t).ok());  // names match without case
  ASSERT_EQ(t->columns().size(), 9u);
  using T = mdb::ColumnType;
  const T kinds[] = {T::kText, T::kText, T::kByte, T::kInt, T::kLong, T::kDouble, T::kDateTime, T::kMoney, T::kBool};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(t->columns()[i].type, kinds[i]) << i;
  EXPECT_EQ(t->columns()[0].size, 100);  // 50 characters
  EXPECT_TRUE(t->columns()[0].compressed_unicode);
  EXPECT_EQ(t->ColumnIndex(u"e"), 4);
  EXPECT_EQ(t->ColumnIndex(u"Z"), -1);
  EXPECT_EQ(db->OpenTable(u"NoSuchTable", &t).code(), Code::kNotFound);
  EXPECT_EQ(db->OpenTable(u"MSysObjects", &t).code(), Code::kOk);  // system tables open by name

  ASSERT_TRUE(mdb::Database::Open(mdb::Env::Default(), Fixture("jk_indexTestV2000.mdb"), o, &db).ok());
  ASSERT_TRUE(db->OpenTable(u"Table1", &t).ok());
  int primary = 0, foreign = 0;
  for (const auto& ix : t->indexes()) {
    if (ix.primary) {
      ++primary;
      EXPECT_TRUE(ix.unique);
      ASSERT_EQ(ix.columns.size(), 1u);
      EXPECT_EQ(t->columns()[ix.columns[0].column].name, u"id");
    }
    if (ix.foreign_key) ++foreign;
  }
  EXPECT_EQ(primary, 1);
  EXPECT_EQ(foreign, 2);

  ASSERT_TRUE(mdb::Database::Open(mdb::Env::Default(), Fixture("mr_data_V2003_numeric.mdb"), o, &db).ok());
  ASSERT_TRUE(db->OpenTable(u"test", &t).ok());
  EXPECT_EQ(t->columns()[0].type, T::kMemo);
  EXPECT_EQ(t->columns()[1].type, T::kNumeric);
  EXPECT_EQ(t->columns()[1].precision, 18);
  EXPECT_EQ(t->columns()[1].scale, 0);
}

}  // namespace

namespace {

// A table of four columns: long [a], yes/no [b], text [c], and long [d]
// added later (so older rows stop before it).
mdb::TableDef FourColumns() {
  mdb::TableDef def;
  def.var_col_count = 1;
  auto col = [](const char16_t* name, mdb::ColumnType t, uint16_t number, bool fixed, uint16_t fixed_offset,
                uint16_t size) {
    mdb::ColumnDef c;
    c.column.name = name;
    c.column.type = t;
    c.column.fixed = fixed;
    c.column.size = size;
    c.type = uint8_t(t);
    c.number = number;
    c.fixed_offset = fixed_offset;
    c.length = size;
    return c;
  };
  def.columns.push_back(col(u"a", mdb::ColumnType::kLong, 0, true, 0, 4));
  def.columns.push_back(col(u"b", mdb::ColumnType::kBool, 1, true, 0, 0));
  def.columns.push_back(col(u"c", mdb::ColumnType::kText, 2, false, 0, 100));
  def.columns.push_back(col(u"d", mdb::ColumnType::kLong, 3, true, 4, 4));
  return def;
}

// Row of the first three columns: a=7, b=true, c="hi".
std::string ThreeColumnRow() {
  std::string r;
  r += std::string("\x03\x00", 2);          // columns in this row
  r += std::string("\x07\x00\x00\x00", 4);  // a
  r += std::string("h\0i\0", 4);            // c at 6..10
  r += std::string("\x0a\x00", 2);          // end of data
  r += std::string("\x06\x00", 2);          // c starts at 6
  r += std::string("\x01\x00", 2);          // one variable column
  r += std::string("\x07", 1);              // a, b, c present
  return r;
}

}  // namespace

TEST(Rows, ColumnsAddedAfterARowWasWrittenReadAsNull) {
  mdb::TableDef def = FourColumns();
  std::string row = ThreeColumnRow();
  std::vector<mdb::FieldRef> f;
  ASSERT_TRUE(mdb::CrackRow(def, reinterpret_cast<const uint8_t*>(row.data()), row.size(), &f).ok());
  ASSERT_EQ(f.size(), 4u);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(row.data());
  mdb::Value v;
  ASSERT_TRUE(mdb::DecodeField(nullptr, def.columns[0], p, f[0], &v).ok());
  EXPECT_EQ(std::get<int64_t>(v), 7);
  ASSERT_TRUE(mdb::DecodeField(nullptr, def.columns[1], p, f[1], &v).ok());
  EXPECT_EQ(std::get<bool>(v), true);
  ASSERT_TRUE(mdb::DecodeField(nullptr, def.columns[2], p, f[2], &v).ok());
  EXPECT_EQ(std::get<std::u16string>(v), u"hi");
  EXPECT_TRUE(f[3].null);
}

TEST(Rows, DamagedRowsAreCorruption) {
  mdb::TableDef def = FourColumns();
  std::vector<mdb::FieldRef> f;
  auto crack = [&](const std::string& r) {
    return mdb::CrackRow(def, reinterpret_cast<const uint8_t*>(r.data()), r.size(), &f).code();
  };
  std::string row = ThreeColumnRow();
  std::string bad = row;
  bad[10] = '\x40';  // end of data past the row
  EXPECT_EQ(crack(bad), Code::kCorruption);
  bad = row;
  bad[14] = '\x09';  // variable count larger than the row holds
  bad[15] = '\x09';
  EXPECT_EQ(crack(bad), Code::kCorruption);
  bad = row;
  bad[0] = '\x7f';  // so many columns the null mask eats the row
  bad[1] = '\x7f';
  EXPECT_EQ(crack(bad), Code::kCorruption);
  EXPECT_EQ(crack(std::string("\x01", 1)), Code::kCorruption);
}

TEST(TableDefinitions, DeletedColumnLeavesAGapThatRowsStillHonour) {
  mdb::OpenOptions o;
  o.read_only = true;
  std::unique_ptr<mdb::Database> db;
  ASSERT_TRUE(mdb::Database::Open(mdb::Env::Default(), Fixture("jk_overflowTestV2000.mdb"), o, &db).ok());
  std::unique_ptr<mdb::Table> t;
  ASSERT_TRUE(db->OpenTable(u"Table1", &t).ok());
  ASSERT_EQ(t->columns().size(), 9u);
  EXPECT_EQ(t->columns()[0].name, u"data1");
  EXPECT_EQ(t->columns()[1].name, u"data3");  // data2 was deleted
  // Rows moved by updates are read through their pointers: all seven, once each.
  auto cur = t->Scan();
  std::set<std::u16string> seen;
  while (cur->Next()) {
    mdb::Value v;
    ASSERT_TRUE(cur->Get(1, &v).ok());
    mdb::Value again;
    ASSERT_TRUE(t->Read(cur->row_id(), 1, &again).ok());
    EXPECT_EQ(v, again);
    if (!mdb::IsNull(v)) seen.insert(std::get<std::u16string>(v));
  }
  ASSERT_TRUE(cur->status().ok());
  EXPECT_EQ(t->row_count(), 7u);
  EXPECT_TRUE(seen.count(u"row3col3"));
  EXPECT_TRUE(seen.count(u"row5col2"));
}
