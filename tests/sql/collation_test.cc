// Text comparison, ordering and LIKE as the database does them.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "mdb/collation.h"

namespace mdb {
namespace {

TEST(Collation, CaseAndWidthAreIgnored) {
  EXPECT_TRUE(TextEquals(u"Zhang San", u"zhang san"));
  EXPECT_TRUE(TextEquals(u"ＡＢＣ１", u"abc1"));
  EXPECT_TRUE(TextEquals(u"\u00C4\u00D6", u"\u00E4\u00F6"));
  EXPECT_TRUE(TextEquals(u"МИР", u"мир"));
  EXPECT_FALSE(TextEquals(u"张三", u"张三 "));
  EXPECT_FALSE(TextEquals(u"", u" "));
  EXPECT_LT(CompareText(u"abc", u"ABD"), 0);
  EXPECT_LT(CompareText(u"ab", u"abc"), 0);
}

std::vector<std::u16string> Sorted(std::vector<std::u16string> v) {
  std::stable_sort(v.begin(), v.end(), [](const auto& a, const auto& b) { return SortKey(a) < SortKey(b); });
  return v;
}

TEST(Collation, ChineseNamesInPinyinOrder) {
  // a-i, bai, chen, li, liu, wang, zhang, zhao, zhou
  std::vector<std::u16string> want = {u"阿姨", u"白雪", u"陈晨", u"李四", u"刘备", u"王五", u"张三", u"赵六", u"周七"};
  std::vector<std::u16string> shuffled = {u"周七", u"张三", u"李四", u"阿姨", u"赵六", u"王五", u"陈晨", u"刘备", u"白雪"};
  EXPECT_EQ(Sorted(shuffled), want);
  // Same syllable, then the next character decides; a prefix comes first.
  EXPECT_LT(SortKey(u"张"), SortKey(u"张三"));
  EXPECT_LT(SortKey(u"张三"), SortKey(u"张四"));
}

TEST(Collation, CommonSurnamesInPinyinOrder) {
  const std::u16string want = u"安白蔡陈邓范高何黄江李刘马宁欧潘钱任沈孙唐王吴徐杨张赵周邹";
  std::vector<std::u16string> names;
  for (size_t i = want.size(); i-- > 0;) names.push_back(std::u16string(1, want[i]) + u"某");
  std::vector<std::u16string> sorted = Sorted(names);
  std::u16string got;
  for (const auto& n : sorted) got.push_back(n[0]);
  EXPECT_EQ(got, want);
}

TEST(Collation, LatinBeforeChineseAndCaseFree) {
  std::vector<std::u16string> got = Sorted({u"张三", u"bob", u"Alice", u"1号", u"alice", u" x", u"Bob"});
  std::vector<std::u16string> want = {u" x", u"1号", u"Alice", u"alice", u"bob", u"Bob", u"张三"};
  EXPECT_EQ(got, want);  // equal keys keep their order (stable)
  EXPECT_EQ(SortKey(u"ALICE"), SortKey(u"alice"));
  EXPECT_EQ(SortKey(u"ａｌｉｃｅ"), SortKey(u"alice"));
}

TEST(Collation, KeysAgreeWithCompare) {
  std::vector<std::u16string> texts = {u"", u"a", u"A", u"ab", u"张", u"张三", u"é", u"e", u"f", u"[", u"9", u"ｚ", u"Ω"};
  for (const auto& a : texts)
    for (const auto& b : texts) {
      int c = CompareText(a, b);
      int k = SortKey(a).compare(SortKey(b));
      EXPECT_EQ(c < 0, k < 0);
      EXPECT_EQ(c == 0, k == 0);
    }
}

TEST(Like, Wildcards) {
  EXPECT_TRUE(LikeMatch(u"张三丰", u"%三%"));
  EXPECT_TRUE(LikeMatch(u"张三", u"%%"));
  EXPECT_TRUE(LikeMatch(u"", u"%%"));
  EXPECT_FALSE(LikeMatch(u"", u"_"));
  EXPECT_TRUE(LikeMatch(u"Smith", u"s_ITH"));
  EXPECT_TRUE(LikeMatch(u"50%off", u"%0%o%"));
  EXPECT_TRUE(LikeMatch(u"abc", u"%%%"));  // a "%" typed as the key is a wildcard
  EXPECT_FALSE(LikeMatch(u"abc", u"%d%"));
  EXPECT_TRUE(LikeMatch(u"b1", u"[abc]#" ) == false);
  EXPECT_TRUE(LikeMatch(u"b1", u"[a-c]1"));
  EXPECT_TRUE(LikeMatch(u"B1", u"[a-c]1"));
  EXPECT_FALSE(LikeMatch(u"d1", u"[a-c]1"));
  EXPECT_TRUE(LikeMatch(u"d1", u"[!a-c]1"));
  EXPECT_TRUE(LikeMatch(u"a%b", u"a[%]b"));
  EXPECT_FALSE(LikeMatch(u"axb", u"a[%]b"));
  EXPECT_TRUE(LikeMatch(u"[x", u"[x"));  // an unclosed bracket is itself
  EXPECT_TRUE(LikeMatch(u"O'Brien", u"%'B%"));
  EXPECT_TRUE(LikeMatch(u"ＡＢ", u"ab"));
}

TEST(Like, PathologicalPatternsStayFast) {
  std::u16string text(5000, u'a');
  std::u16string pat;
  for (int i = 0; i < 200; ++i) pat += u"%a";
  pat += u"%b";
  EXPECT_FALSE(LikeMatch(text, pat));
}

}  // namespace
}  // namespace mdb
