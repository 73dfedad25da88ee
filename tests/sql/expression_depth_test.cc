// Expressions of any length, and nested as deep as allowed, on the stack the
// program's handlers have (the main thread's 1 MB on Windows): parsed,
// bound, evaluated and freed without overflowing it; deeper ones refused.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "mdb/mdb.h"
#include "mdb/sql.h"
#include "mdb/sql_ast.h"
#include "mdb/sql_eval.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace mdb {
namespace {

#ifdef _WIN32
DWORD WINAPI RunOnThread(void* p) {
  (*static_cast<const std::function<void()>*>(p))();
  return 0;
}
#endif

// Runs f on a thread of its own with a stack of this many bytes.
void OnStackOf(size_t bytes, const std::function<void()>& f) {
#ifdef _WIN32
  HANDLE t = CreateThread(nullptr, bytes, RunOnThread, const_cast<std::function<void()>*>(&f),
                          STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  ASSERT_NE(t, nullptr);
  WaitForSingleObject(t, INFINITE);
  CloseHandle(t);
#else
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, bytes);
  pthread_t t;
  ASSERT_EQ(pthread_create(
                &t, &attr,
                [](void* p) -> void* {
                  (*static_cast<const std::function<void()>*>(p))();
                  return nullptr;
                },
                const_cast<std::function<void()>*>(&f)),
            0);
  pthread_join(t, nullptr);
  pthread_attr_destroy(&attr);
#endif
}

constexpr size_t kOneMegabyte = 1 << 20;

class ExpressionDepthTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OpenOptions o;
    o.read_only = true;
    Status s = Database::Open(Env::Default(), std::string(USERMGR_FIXTURES_DIR) + "/mr_data_V2000_test.mdb", o, &db_);
    ASSERT_TRUE(s.ok()) << s.ToString();
  }
  // The [A] of every row, or the failure's message.
  std::u16string Rows(const std::u16string& where) {
    std::unique_ptr<RecordSet> rs;
    Status s = ExecuteQuery(db_.get(), u"select A from Table1 where " + where, &rs);
    if (!s.ok()) return std::u16string(s.message().begin(), s.message().end());
    std::u16string out;
    for (; !rs->AtEnd(); rs->MoveNext()) {
      Value v;
      EXPECT_TRUE(rs->Get(0, &v).ok());
      out += ValueToText(v) + u";";
    }
    return out;
  }
  std::unique_ptr<Database> db_;
};

TEST_F(ExpressionDepthTest, ChainsOfAnyLengthOnAOneMegabyteStack) {
  const std::u16string want = Rows(u"C = 2");
  ASSERT_FALSE(want.empty());
  OnStackOf(kOneMegabyte, [&] {
    std::u16string sum = u"C = 0";
    for (int i = 0; i < 3000; ++i) sum += u" + 1";
    for (int i = 0; i < 2998; ++i) sum += u" - 1";
    EXPECT_EQ(Rows(sum), want);
    std::u16string any = u"C = -1";
    for (int i = 0; i < 3000; ++i) any += u" OR C = " + std::u16string(1, u'3' + i % 5) + u"000";
    EXPECT_EQ(Rows(any + u" OR C = 2"), want);
    std::u16string all = u"C = 2";
    for (int i = 0; i < 3000; ++i) all += u" AND C <> 7";
    EXPECT_EQ(Rows(all), want);
    std::u16string text = u"'x'";
    for (int i = 0; i < 100000; ++i) text += u" & 'x'";
    EXPECT_EQ(Rows(u"C = 2 and " + text + u" like 'xx%'"), want);
  });
}

// At the limit, every precedence nested in every parenthesis; one deeper is
// refused with a message that says why.
TEST_F(ExpressionDepthTest, NestingUpToTheLimitRunsPastItIsRefused) {
  auto nested = [](int parens) {
    std::u16string s = u"C = 2";
    for (int i = 0; i < parens; ++i) s = u"(" + s + u")";
    return s;
  };
  // 2 at every level, the next level the operand of all five.
  auto every_precedence = [](int parens) {
    std::u16string s = u"2";
    for (int i = 0; i < parens; ++i) s = u"(0 + 2 MOD 7 \\ 1 * 1 ^ (" + s + u"))";
    return u"C = " + s;
  };
  OnStackOf(kOneMegabyte, [&] {
    const std::u16string want = Rows(u"C = 2");
    EXPECT_EQ(Rows(nested(kMaxExpressionNesting)), want);
    EXPECT_NE(Rows(nested(kMaxExpressionNesting + 1)).find(u"nested more than 64 levels deep"), std::u16string::npos);
    std::u16string deepest;
    for (int parens = 1; parens < 100; ++parens) {
      std::u16string r = Rows(every_precedence(parens));
      if (r != want) {
        EXPECT_NE(r.find(u"nested more than 64 levels deep"), std::u16string::npos) << parens;
        break;
      }
      deepest = every_precedence(parens);
    }
    EXPECT_FALSE(deepest.empty());
    std::u16string nots = u"C = 2";
    for (int i = 0; i < kMaxExpressionNesting - 2; ++i) nots = u"not not " + nots;
    EXPECT_NE(Rows(nots).find(u"nested more than 64 levels deep"), std::u16string::npos);
  });
}

}  // namespace
}  // namespace mdb
