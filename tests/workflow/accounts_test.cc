// The birth-date statistics and the administrators window.
#include <algorithm>

#include "tests/workflow/fixture.h"
#include "vorta/convert.h"

namespace workflow_test {
namespace {

using Messages = std::vector<Message>;
using Texts = std::vector<rt::Text>;

const char kList[] = "超级列表框1";

class StatisticsTest : public WorkflowTest {
 protected:
  // Opens "统计", runs one statistic per range and closes it again; gives the
  // names listed after each run.
  std::vector<Texts> Run(const std::vector<std::pair<rt::DateTime, rt::DateTime>>& ranges) {
    std::vector<Texts> out;
    auto logged = [&] {
      Texts events = LogEvents();
      return std::count(events.begin(), events.end(), "统计人员");
    };
    auto before = logged();
    rt().OnModal(kStats, [&] {
      EXPECT_TRUE(rt().Rows(kStats, kList).empty()) << "each opening starts empty";
      for (const auto& [from, to] : ranges) {
        rt().SetDate(kStats, "日期框_出生日期", from);
        rt().SetDate(kStats, "日期框_出生日期1", to);
        rt().Click(kStats, "按钮1");
        out.push_back(rt().Column(kStats, kList, 0));
      }
      EXPECT_EQ(logged(), before) << "the log row comes after the window closed";
    });
    rt().Click(kMain, "按钮6");
    EXPECT_EQ(logged(), before + 1);
    return out;
  }
};

TEST_F(StatisticsTest, BoundsAreInclusiveUnswappedAndSortedByName) {
  SeedPerson("王五", true, "1980-1-1", "");
  SeedPerson("李四", false, "1989-12-31", "");
  SeedPerson("张三丰", true, "1985-6-15 12:00:00", "");
  SeedPerson("赵六", true, "1990-1-1", "");
  SeedPerson("钱七", true, "1979-12-31", "");
  StartLoggedIn();
  std::vector<Texts> lists = Run({
      {headless::Day(1980, 1, 1), headless::Day(1989, 12, 31)},
      {headless::Day(1980, 1, 1), headless::Day(1989, 12, 31)},
      {headless::Day(1989, 12, 31), headless::Day(1980, 1, 1)},
      {headless::Day(1985, 6, 15), headless::At(1985, 6, 15, 12, 0, 0)},
      {headless::At(1980, 1, 1, 0, 0, 1), headless::Day(1981, 1, 1)},
  });
  ASSERT_EQ(lists.size(), 5u);
  // Sorted as the database compares names.
  Texts expected = {"张三丰", "王五", "李四"};
  std::vector<Record> check = Select(
      "select * from [用户信息表] where [出生日期] between #1980-1-1 0:0:0# and #1989-12-31 0:0:0# "
      "order by [姓名] asc");
  Texts from_db;
  for (const Record& r : check) from_db.push_back(vorta::ToText(Field(r, "姓名")));
  EXPECT_EQ(lists[0], from_db);
  std::sort(expected.begin(), expected.end());
  Texts listed = lists[0];
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, expected) << "both bounds inclusive";
  EXPECT_EQ(lists[1], lists[0]) << "a second click shows the list once";
  EXPECT_TRUE(lists[2].empty()) << "a reversed range is sent as it is";
  EXPECT_EQ(lists[3], Texts{"张三丰"}) << "the time of day goes into the literal";
  EXPECT_TRUE(lists[4].empty()) << "a lower bound after midnight leaves that day's birthday out";
  EXPECT_TRUE(messages().empty());
  ASSERT_GE(Sent().size(), 3u);
  EXPECT_EQ(Sent()[0],
            "select * from [用户信息表] where [出生日期] between #1980-1-1 0:0:0# and #1989-12-31 0:0:0# "
            "order by [姓名] asc");
  EXPECT_EQ(Sent()[2],
            "select * from [用户信息表] where [出生日期] between #1989-12-31 0:0:0# and #1980-1-1 0:0:0# "
            "order by [姓名] asc");
  EXPECT_EQ(LogEvents(), (Texts{"用户登录", "统计人员"}));
}

TEST_F(StatisticsTest, ExactlyOneLogRowPerOpeningWhetherOrNotAStatisticRan) {
  SeedPerson("甲", true, "1990-1-1", "");
  StartLoggedIn();
  Run({});
  Run({{headless::Day(1990, 1, 1), headless::Day(1990, 1, 1)}, {headless::Day(1990, 1, 1), headless::Day(1990, 1, 1)}});
  EXPECT_EQ(LogEvents(), (Texts{"用户登录", "统计人员", "统计人员"}));
  std::vector<Record> log = Select("select * from [操作日志]");
  for (const Record& r : log) EXPECT_EQ(vorta::ToText(Field(r, "用户ID")), "1");
  EXPECT_EQ(rt().Column(kMain, kList, 0), Texts{"甲"}) << "the main list is untouched";
  EXPECT_TRUE(messages().empty());
}

class AdministratorsTest : public WorkflowTest {
 protected:
  void SetUp() override {
    WorkflowTest::SetUp();
    Exec("insert into [用户表] ([用户名],[密码]) values ('李四','Secret''1')");
    Exec("insert into [用户表] ([用户名],[密码]) values ('王五','')");
  }
};

TEST_F(AdministratorsTest, ListShowsPasswordsInClearAndOpeningLogsNothing) {
  SeedPerson("甲", true, "1990-1-1", "");
  StartLoggedIn();
  rt().OnModal(kAdmin, [&] {
    const auto& rows = rt().Rows(kAdmin, kList);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].cells, (Texts{"张三", "580274"}));
    EXPECT_EQ(rows[1].cells, (Texts{"李四", "Secret'1"}));
    EXPECT_EQ(rows[2].cells, (Texts{"王五", ""}));
    EXPECT_EQ(rows[0].data, 1);
    EXPECT_EQ(rows[1].data, 2);
    EXPECT_EQ(rows[2].data, 3);
  });
  rt().Click(kMain, "按钮7");
  EXPECT_EQ(Sent(), Texts{"select * from [用户表]"});
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(LogEvents(), Texts{"用户登录"});
  EXPECT_EQ(rt().Column(kMain, kList, 0), Texts{"甲"});
}

TEST_F(AdministratorsTest, NoLeavesEverythingYesDeletesTheSelectedAccountAndItsLogRows) {
  StartLoggedIn();
  // 李四 has log rows of his own.
  Exec("insert into [操作日志] ([用户ID],[操作时间],[事件说明]) values (2,now(),'用户登录')");
  Exec("insert into [操作日志] ([用户ID],[操作时间],[事件说明]) values (2,now(),'添加人员')");
  rt().OnModal(kAdmin, [&] {
    rt().SelectRow(kAdmin, kList, 1);
    rt().Answer(rt::kIdNo);
    rt().Click(kAdmin, "按钮4");
    EXPECT_EQ(rt().Rows(kAdmin, kList).size(), 3u);
    EXPECT_EQ(Count("select * from [用户表]"), 3);
    EXPECT_EQ(Count("select * from [操作日志]"), 3);

    rt().Answer(rt::kIdYes);
    rt().Click(kAdmin, "按钮4");
    EXPECT_EQ(rt().Column(kAdmin, kList, 0), (Texts{"张三", "王五"}));
  });
  rt().Click(kMain, "按钮7");
  EXPECT_EQ(messages(), (Messages{{"删除管理员，管理员对应的日志也将删除，是否继续？", kQuestion},
                                  {"删除管理员，管理员对应的日志也将删除，是否继续？", kQuestion},
                                  {"数据删除成功！", kInfo}}));
  EXPECT_EQ(Sent(), (Texts{"select * from [用户表]", "delete from [用户表]  where  [ID]=2"}));
  std::vector<Record> accounts = Select("select * from [用户表]");
  ASSERT_EQ(accounts.size(), 2u);
  EXPECT_EQ(vorta::ToText(Field(accounts[0], "用户名")), "张三");
  EXPECT_EQ(vorta::ToText(Field(accounts[1], "用户名")), "王五");
  EXPECT_EQ(LogEvents(), Texts{"用户登录"}) << "李四's log rows went with the account";
}

TEST_F(AdministratorsTest, YesWithoutASelectedRowDeletesNothing) {
  StartLoggedIn();
  rt().OnModal(kAdmin, [&] {
    rt().Answer(rt::kIdYes);
    rt().Click(kAdmin, "按钮4");
  });
  rt().Click(kMain, "按钮7");
  EXPECT_EQ(messages(), (Messages{{"删除管理员，管理员对应的日志也将删除，是否继续？", kQuestion},
                                  {"数据删除失败！", kError}}));
  EXPECT_EQ(Sent(), Texts{"select * from [用户表]"});
  EXPECT_EQ(Count("select * from [用户表]"), 3);
}

TEST_F(AdministratorsTest, DeletingEveryAccountLocksEveryoneOutNextTime) {
  StartLoggedIn();
  rt().OnModal(kAdmin, [&] {
    for (int i = 0; i < 3; ++i) {
      rt().SelectRow(kAdmin, kList, 0);
      rt().Answer(rt::kIdYes);
      rt().Click(kAdmin, "按钮4");
    }
    EXPECT_TRUE(rt().Rows(kAdmin, kList).empty());
  });
  rt().Click(kMain, "按钮7");
  // The logged-in operator was deleted too; the globals do not change.
  EXPECT_EQ(app::CurrentUserId, "1");
  EXPECT_EQ(app::CurrentUserName, "张三");
  EXPECT_EQ(Count("select * from [用户表]"), 0);
  EXPECT_EQ(Count("select * from [操作日志]"), 0);
  rt().CloseBox(kMain);

  // The next run: the prefilled login is refused.
  app::LoginSucceeded = 0;
  headless::HeadlessRuntime next(app::ProgramImage());
  next.SetRunDirectory(dir());
  next.OnModal(kLogin, [&] { next.Click(kLogin, "按钮1"); });
  EXPECT_EQ(next.RunProgram(), 0);
  EXPECT_EQ(next.messages(), (Messages{{"验证失败！", kError}}));
}

}  // namespace
}  // namespace workflow_test
