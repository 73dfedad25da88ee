// Statements the database refuses: each workflow shows its failure message,
// changes nothing, writes no log row and leaves the lists as they were.
#include "accounts/handlers.h"
#include "persons/handlers.h"
#include "tests/workflow/fixture.h"
#include "vorta/convert.h"

namespace workflow_test {
namespace {

using Messages = std::vector<Message>;
using Texts = std::vector<rt::Text>;

const char kList[] = "超级列表框1";

class RefusalsTest : public WorkflowTest {
 protected:
  // The connection breaks under the program (as when the file goes away on
  // a network share).
  void LoseTheConnection() { rt().unit(app::Database)->CloseDatabase(); }
};

TEST_F(RefusalsTest, TooLongANameMakesAddAndModifyFailAndChangesNothing) {
  SeedPerson("甲", true, "1990-1-1", "原简介");
  SeedPerson("乙", false, "1991-1-1", "");
  StartLoggedIn();
  rt().Type(kMain, "编辑框_关键字", "甲");
  rt().Click(kMain, "按钮5");
  rt().ClearStatements();
  rt::Text too_long(51, 'x');  // [姓名] holds 50 characters

  rt().Type(kMain, "编辑框_姓名", too_long);
  rt().Click(kMain, "按钮2");
  EXPECT_EQ(messages(), (Messages{{"数据添加失败！", kError}}));
  ASSERT_EQ(rt().statements().size(), 1u) << "no log row, no refill";
  EXPECT_FALSE(rt().statements()[0].ok);
  EXPECT_EQ(rt().Column(kMain, kList, 0), Texts{"甲"}) << "the search result stays";
  EXPECT_EQ(Count("select * from [用户信息表]"), 2);

  rt().ClearMessages();
  rt().ClearStatements();
  rt().SelectRow(kMain, kList, 0);
  rt().Type(kMain, "编辑框_姓名", too_long);
  rt().Type(kMain, "编辑框_个人简介", "新简介");
  rt().Click(kMain, "按钮3");
  EXPECT_EQ(messages(), (Messages{{"数据修改失败！", kError}}));
  EXPECT_EQ(rt().statements().size(), 2u) << "the select of the row, then the refused update";
  std::vector<Record> rows = PersonsNamed("甲");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(vorta::ToText(Field(rows[0], "个人简介")), "原简介");
  EXPECT_EQ(vorta::ToText(Field(rows[0], "添加者")), "种子");
  EXPECT_EQ(rt().At(kMain, kList).current_row, 0) << "the list is not rebuilt";
  EXPECT_EQ(rt().At(kMain, "编辑框_姓名").text, too_long) << "the form keeps its values";
  EXPECT_EQ(LogEvents(), Texts{"用户登录"});
}

TEST_F(RefusalsTest, AFailedQueryEmptiesTheListAndSaysSo) {
  SeedPerson("甲", true, "1990-1-1", "");
  StartLoggedIn();
  ASSERT_EQ(rt().Rows(kMain, kList).size(), 1u);
  persons::FillPersonList(rt::ControlRef{kMain, kList}, "select * from [无此表]");
  EXPECT_TRUE(rt().Rows(kMain, kList).empty());
  rt().OnModal(kAdmin, [&] {
    ASSERT_EQ(rt().Rows(kAdmin, kList).size(), 1u);
    accounts::FillAdministratorList(rt::ControlRef{kAdmin, kList}, "select * from [无此表]");
    EXPECT_TRUE(rt().Rows(kAdmin, kList).empty());
  });
  rt().Click(kMain, "按钮7");
  EXPECT_EQ(messages(), (Messages{{"查询失败!", kError}, {"查询失败!", kError}}));
  EXPECT_EQ(rt().open_record_sets(), 0);
}

TEST_F(RefusalsTest, ALostConnectionFailsEveryWorkflowWithItsOwnMessage) {
  SeedPerson("甲", true, "1990-1-1", "简介");
  SeedPerson("乙", false, "1991-1-1", "");
  StartLoggedIn();
  rt().SelectRow(kMain, kList, 0);
  LoseTheConnection();

  rt().SelectRow(kMain, kList, 1);  // the form keeps 甲
  rt().Click(kMain, "按钮4");       // 乙 is current
  rt().Click(kMain, "按钮2");
  rt().Click(kMain, "按钮3");
  EXPECT_EQ(rt().At(kMain, "编辑框_姓名").text, "甲");
  EXPECT_EQ(rt().Column(kMain, kList, 0), (Texts{"甲", "乙"}));
  rt().OnModal(kAdmin, [&] {
    rt().Answer(rt::kIdYes);
    rt().Click(kAdmin, "按钮4");
  });
  rt().Click(kMain, "按钮7");
  rt().OnModal(kStats, [&] { rt().Click(kStats, "按钮1"); });
  rt().Click(kMain, "按钮6");
  rt().Click(kMain, "按钮5");
  EXPECT_EQ(messages(), (Messages{{"查询失败!", kError},
                                  {"数据删除失败！", kError},
                                  {"数据添加失败！", kError},
                                  {"数据修改失败！", kError},
                                  {"查询失败!", kError},
                                  {"删除管理员，管理员对应的日志也将删除，是否继续？", kQuestion},
                                  {"数据删除失败！", kError},
                                  {"查询失败!", kError},
                                  {"数据添加失败！", kError},
                                  {"查询失败!", kError}}));
  EXPECT_TRUE(rt().Rows(kMain, kList).empty());
  rt().CloseBox(kMain);
  // Nothing reached the file.
  EXPECT_EQ(Count("select * from [用户信息表]"), 2);
  EXPECT_EQ(Count("select * from [用户表]"), 1);
  EXPECT_EQ(LogEvents(), Texts{"用户登录"});
}

TEST_F(RefusalsTest, ALoginWhoseLookupFailsStaysOpen) {
  rt().OnModal(kLogin, [&] {
    rt().unit(app::Database)->CloseDatabase();
    rt().Click(kLogin, "按钮1");
    EXPECT_TRUE(rt().IsOpen(kLogin));
  });
  EXPECT_EQ(rt().RunProgram(), 0);
  EXPECT_EQ(messages(), (Messages{{"查询失败!", kError}}));
  EXPECT_EQ(app::LoginSucceeded, 0);
  EXPECT_TRUE(LogEvents().empty());
}

}  // namespace
}  // namespace workflow_test
