// Write rates at the end of a large table, for measuring by hand (disabled:
// run with --gtest_also_run_disabled_tests --gtest_filter='*WriteRate*').
// Prints numbers; passes or fails only on correctness.
#include <sys/time.h>

#include <cstdio>
#include <random>

#include "tests/mdb_write/helpers.h"

using namespace writetest;
using mdb::Value;

namespace {

// (<chrono> does not build under this folder's GBK execution character set.)
double Now() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  return double(tv.tv_sec) + tv.tv_usec * 1e-6;
}

std::vector<Value> Person(int k, const std::string* photo) {
  Value p = photo ? Value(mdb::Binary{*photo}) : Value();
  return {Value(), std::u16string(u"人") + char16_t(u'甲' + k % 50), bool(k % 2), std::u16string(u"简介"),
          mdb::Date{30000.0 + k % 20000}, std::u16string(u"张三"), p};
}

TEST(WriteRate, DISABLED_DurableWritesAtTheEndOfALargeTable) {
  const int kBase = 100000, kTimed = 300;
  std::string path = Scratch("rate.mdb");
  ASSERT_TRUE(mdb::Database::Create(mdb::Env::Default(), path, mdb::CreateOptions()).ok());
  auto db = Open(path, u"580274");
  std::unique_ptr<mdb::Table> t;
  ASSERT_TRUE(db->OpenTable(u"用户信息表", &t).ok());
  std::mt19937 rng(1);
  std::string photo(50 * 1024, '\0');
  for (auto& c : photo) c = char(rng());

  double t0 = Now();
  for (int k = 0; k < kBase; k += 1000) {
    ASSERT_TRUE(db->Begin().ok());
    for (int j = k; j < k + 1000; ++j) ASSERT_TRUE(t->Insert(Person(j, nullptr), nullptr, nullptr).ok());
    ASSERT_TRUE(db->Commit().ok());
  }
  std::printf("filled %d rows in %.1f s\n", kBase, Now() - t0);

  // The same bytes written plainly, one fsync per photo.
  std::string plain = Scratch("rate.bin");
  std::unique_ptr<mdb::File> f;
  ASSERT_TRUE(mdb::Env::Default()->CreateFile(plain, &f).ok());
  t0 = Now();
  for (int k = 0; k < kTimed; ++k) {
    ASSERT_TRUE(f->Write(uint64_t(k) * photo.size(), photo.data(), photo.size()).ok());
    ASSERT_TRUE(f->Sync().ok());
  }
  double plain_rate = kTimed / (Now() - t0);
  f.reset();

  std::vector<mdb::RowId> ids;
  t0 = Now();
  for (int k = 0; k < kTimed; ++k) {
    mdb::RowId id;
    ASSERT_TRUE(t->Insert(Person(k, &photo), &id, nullptr).ok());
    ids.push_back(id);
  }
  double insert_rate = kTimed / (Now() - t0);
  t0 = Now();
  for (int k = 0; k < kTimed; ++k)
    ASSERT_TRUE(t->Update(ids[k], {{1, Value(std::u16string(u"改名"))}, {4, Value(mdb::Date{31000.0})}}, nullptr).ok());
  double update_rate = kTimed / (Now() - t0);
  t0 = Now();
  for (int k = 0; k < kTimed; ++k) ASSERT_TRUE(t->Delete(ids[k]).ok());
  double delete_rate = kTimed / (Now() - t0);
  std::printf("plain 50 KB + fsync: %.1f/s\n", plain_rate);
  std::printf("insert with photo:   %.1f/s (%.2f of plain)\n", insert_rate, insert_rate / plain_rate);
  std::printf("update:              %.1f/s\n", update_rate);
  std::printf("delete with photo:   %.1f/s\n", delete_rate);
  EXPECT_EQ(t->row_count(), uint32_t(kBase));
  db.reset();
  EXPECT_CLEAN(path, u"580274");
}

}  // namespace
