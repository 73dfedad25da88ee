// A log table that refuses inserts, for every workflow that writes a log row.
// The refusal is real: the log row names the operator's account, and the
// engine enforces the relationship from [操作日志].[用户ID] to [用户表].[ID];
// the account is deleted behind the program's back (as another program
// could) before the workflow writes its row.
#include "tests/workflow/fixture.h"
#include "vorta/convert.h"

namespace workflow_test {
namespace {

using Messages = std::vector<Message>;
using Texts = std::vector<rt::Text>;

const char kList[] = "超级列表框1";

class RefusedLogTest : public WorkflowTest {
 protected:
  void StartAndLoseTheAccount() {
    StartLoggedIn();
    Exec("delete from [用户表] where [ID]=" + app::CurrentUserId);
    ASSERT_TRUE(LogEvents().empty()) << "the account's log rows go with it";
  }
};

TEST_F(RefusedLogTest, LoginStaysOpenAndNeverSaysSuccess) {
  rt().OnModal(kLogin, [&] {
    rt().BeforeNextExecute([&] { Exec("delete from [用户表] where [用户名]='张三'"); });
    rt().Click(kLogin, "按钮1");
    EXPECT_TRUE(rt().IsOpen(kLogin));
    EXPECT_EQ(app::LoginSucceeded, 0);
    EXPECT_EQ(app::CurrentUserId, "1") << "the attempt's values are already held";
    EXPECT_EQ(app::CurrentUserName, "张三");
    EXPECT_EQ(rt().open_record_sets(), 0);
    // The account is gone now: the next attempt is refused.
    rt().Click(kLogin, "按钮1");
  });
  EXPECT_EQ(rt().RunProgram(), 0);
  EXPECT_EQ(messages(), (Messages{{"数据添加失败！", kError}, {"验证失败！", kError}}));
  EXPECT_EQ(rt().Title(kMain), "用户管理");
  EXPECT_TRUE(LogEvents().empty());
}

TEST_F(RefusedLogTest, AddSaysSuccessThenFailureAndDoesNotRefresh) {
  SeedPerson("甲", true, "1990-1-1", "");
  StartAndLoseTheAccount();
  rt().Type(kMain, "编辑框_姓名", "新人");
  rt().Click(kMain, "按钮2");
  EXPECT_EQ(messages(), (Messages{{"数据添加成功！", kInfo}, {"数据添加失败！", kError}}));
  EXPECT_EQ(PersonsNamed("新人").size(), 1u) << "the person row stays";
  EXPECT_EQ(rt().Column(kMain, kList, 0), Texts{"甲"}) << "the list is not rebuilt";
  EXPECT_TRUE(LogEvents().empty());
  EXPECT_EQ(rt().statements().size(), 2u);
}

TEST_F(RefusedLogTest, ModifySaysSuccessThenFailureAndDoesNotRefresh) {
  SeedPerson("甲", true, "1990-1-1", "");
  StartAndLoseTheAccount();
  rt().SelectRow(kMain, kList, 0);
  rt().Type(kMain, "编辑框_姓名", "甲改");
  rt().Click(kMain, "按钮3");
  EXPECT_EQ(messages(), (Messages{{"数据修改成功！", kInfo}, {"数据添加失败！", kError}}));
  EXPECT_EQ(PersonsNamed("甲改").size(), 1u) << "the row stays modified";
  EXPECT_EQ(rt().Column(kMain, kList, 0), Texts{"甲"}) << "the list shows the old values";
  EXPECT_EQ(rt().At(kMain, kList).current_row, 0);
  EXPECT_TRUE(LogEvents().empty());
}

TEST_F(RefusedLogTest, DeleteKeepsTheRowListedAndSelectingItKeepsTheForm) {
  SeedPerson("甲", true, "1990-1-1", "");
  SeedPerson("乙", false, "1991-1-1", "");
  StartAndLoseTheAccount();
  rt().SelectRow(kMain, kList, 0);
  rt().Click(kMain, "按钮4");
  EXPECT_EQ(messages(), (Messages{{"数据删除成功！", kInfo}, {"数据添加失败！", kError}}));
  EXPECT_TRUE(PersonsNamed("甲").empty());
  EXPECT_EQ(rt().Column(kMain, kList, 0), (Texts{"甲", "乙"}));
  EXPECT_TRUE(LogEvents().empty());
  // The listed row names a person that is gone.
  rt().SelectRow(kMain, kList, 1);
  rt().SelectRow(kMain, kList, 0);
  EXPECT_EQ(rt().At(kMain, "编辑框_姓名").text, "乙");
  EXPECT_EQ(messages().size(), 2u);
}

TEST_F(RefusedLogTest, StatisticsShowsTheFailureAfterTheWindowClosed) {
  StartAndLoseTheAccount();
  rt().OnModal(kStats, [&] { EXPECT_TRUE(messages().empty()); });
  rt().Click(kMain, "按钮6");
  EXPECT_FALSE(rt().IsOpen(kStats));
  EXPECT_EQ(messages(), (Messages{{"数据添加失败！", kError}}));
  EXPECT_TRUE(LogEvents().empty());
}

}  // namespace
}  // namespace workflow_test
