// Start-up, login and the end of the program.
#ifndef _WIN32
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/workflow/fixture.h"
#include "vorta/convert.h"

namespace workflow_test {
namespace {

using Messages = std::vector<Message>;

class StartupTest : public WorkflowTest {};

TEST_F(StartupTest, MissingFileShowsConnectionFailureAndEndsWithZero) {
  std::filesystem::remove(db_path());
  int code = rt().RunProgram();
  EXPECT_EQ(code, 0);
  EXPECT_EQ(messages(), (Messages{{"数据库连接失败！", kError}}));
  // The login window never appeared and nothing was sent.
  EXPECT_EQ(rt().loads(), std::vector<rt::WindowId>{kMain});
  EXPECT_TRUE(rt().statements().empty());
  EXPECT_TRUE(rt().exit_routine_ran());
  EXPECT_FALSE(std::filesystem::exists(db_path())) << "the program never creates the file";
}

#ifndef _WIN32
// Makes a file one that may only be read: without write permission, or
// immutable for root, who may write anything else.
bool SetReadOnly(const std::string& path, bool on) {
  if (geteuid() != 0) return chmod(path.c_str(), on ? 0444 : 0644) == 0;
  int fd = open(path.c_str(), O_RDONLY);
  int flags = 0;
  bool ok = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  if (fd >= 0) close(fd);
  return ok;
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A file the user may only read opens for reading: the program starts and
// the login looks the account up; its log row cannot be written, so the
// login stops there as it does whenever that row fails. Nothing is written.
TEST_F(StartupTest, ReadOnlyFileOpensForReadingAndItsLogRowFails) {
  SeedPerson("李四", true, "1990-5-7", "简介");
  const std::string before = Bytes(db_path());
  if (!SetReadOnly(db_path(), true)) GTEST_SKIP() << "no read-only file can be made here";
  struct Writable {
    std::string path;
    ~Writable() { SetReadOnly(path, false); }
  } restore{db_path()};
  rt().OnModal(kLogin, [&] {
    rt().Click(kLogin, "按钮1");
    EXPECT_TRUE(rt().IsOpen(kLogin));
  });
  EXPECT_EQ(rt().RunProgram(), 0);
  EXPECT_EQ(messages(), (Messages{{"数据添加失败！", kError}}));
  EXPECT_EQ(app::LoginSucceeded, 0);
  EXPECT_EQ(Bytes(db_path()), before);
  // The unit reads everything and says why each write fails.
  vorta::DatabaseUnit unit;
  ASSERT_TRUE(unit.OpenMdb(dir() + "/access.mdb", "580274")) << unit.last_error();
  int rs = unit.Query("select * from [用户信息表]");
  ASSERT_NE(rs, 0) << unit.last_error();
  unit.CloseRecordSet(rs);
  EXPECT_FALSE(unit.ExecuteSql("delete from [用户信息表]  where  [ID]=1", nullptr));
  EXPECT_NE(unit.last_error().find("can only be read"), std::string::npos) << unit.last_error();
  unit.CloseDatabase();
  EXPECT_EQ(Bytes(db_path()), before);
}
#endif

TEST_F(StartupTest, CancelEndsAtOnceWithZeroAndNoLogRow) {
  rt().OnModal(kLogin, [&] { rt().Click(kLogin, "按钮2"); });
  EXPECT_EQ(rt().RunProgram(), 0);
  EXPECT_TRUE(messages().empty());
  EXPECT_TRUE(rt().statements().empty());
  EXPECT_EQ(app::LoginSucceeded, 0);
  EXPECT_TRUE(LogEvents().empty());
}

TEST_F(StartupTest, CloseBoxAfterFailedAttemptsEndsWithoutFillingTheList) {
  SeedPerson("李四", true, "1990-5-7", "");
  rt().OnModal(kLogin, [&] {
    rt().Type(kLogin, "编辑框_密码", "wrong");
    rt().Click(kLogin, "按钮1");
    EXPECT_TRUE(rt().IsOpen(kLogin));
  });
  EXPECT_EQ(rt().RunProgram(), 0);
  EXPECT_EQ(messages(), (Messages{{"验证失败！", kError}}));
  EXPECT_EQ(rt().Title(kMain), "用户管理");
  EXPECT_TRUE(rt().Rows(kMain, "超级列表框1").empty());
  EXPECT_TRUE(LogEvents().empty());
}

TEST_F(StartupTest, LoginSetsTitleLogsOnceFillsTheListAndClosesTwiceOnTheWayOut) {
  SeedPerson("李四", true, "1990-5-7", "简介");
  SeedPerson("王五", false, "1985-12-1", "");
  bool loop_ran = false;
  rt().OnModal(kLogin, [&] {
    EXPECT_EQ(rt().At(kLogin, "编辑框_用户名").text, "张三");
    EXPECT_EQ(rt().At(kLogin, "编辑框_密码").text, "580274");
    rt().Click(kLogin, "按钮1");
    // The success message came while the window was still open; now it is closed.
    EXPECT_FALSE(rt().IsOpen(kLogin));
  });
  rt().OnMessageLoop([&] {
    loop_ran = true;
    EXPECT_EQ(rt().Title(kMain), "用户管理(当前用户:张三)");
    EXPECT_EQ(rt().Column(kMain, "超级列表框1", 0), (std::vector<rt::Text>{"李四", "王五"}));
    EXPECT_EQ(app::CurrentUserId, "1");
    EXPECT_EQ(app::CurrentUserName, "张三");
    std::vector<Record> log = Select("select * from [操作日志]");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(vorta::ToText(Field(log[0], "事件说明")), "用户登录");
    EXPECT_EQ(vorta::ToText(Field(log[0], "用户ID")), "1");
    EXPECT_EQ(Field(log[0], "操作时间").kind(), rt::Kind::DateTime);
  });
  EXPECT_EQ(rt().RunProgram(), 0);
  EXPECT_TRUE(loop_ran);
  EXPECT_EQ(messages(), (Messages{{"验证成功！", kInfo}}));
  EXPECT_EQ(rt().close_database_calls(), 2);
  EXPECT_TRUE(rt().exit_routine_ran());
  EXPECT_TRUE(app::CurrentUserName.empty()) << "the exit clean-up releases the global texts";
  EXPECT_TRUE(app::CurrentUserId.empty());
  EXPECT_EQ(Sent(), (std::vector<rt::Text>{
                             "select * from [用户表] where [用户名]='张三'",
                             "insert into [操作日志] ([用户ID],[操作时间],[事件说明]) values (1,now(),'用户登录')",
                             "select * from [用户信息表]",
                         }));
}

TEST_F(StartupTest, EmptyTableGivesAnEmptyListWithoutMessage) {
  StartLoggedIn();
  EXPECT_TRUE(rt().Rows(kMain, "超级列表框1").empty());
  EXPECT_TRUE(messages().empty());
}

TEST_F(StartupTest, RefusedAttemptsStayInTheLoginWindow) {
  Exec("insert into [用户表] ([用户名],[密码]) values ('O''Brien','Pw''1')");
  Exec("insert into [用户表] ([用户名],[密码]) values ('张三','other')");  // a second 张三
  rt().OnModal(kLogin, [&] {
    rt().Type(kLogin, "编辑框_用户名", "");
    rt().Type(kLogin, "编辑框_密码", "580274");
    rt().Click(kLogin, "按钮1");
    EXPECT_TRUE(rt().statements().empty()) << "an empty name runs no query";

    rt().Type(kLogin, "编辑框_用户名", "张三");
    rt().Type(kLogin, "编辑框_密码", "other");  // the second row's password
    rt().Click(kLogin, "按钮1");
    rt().Type(kLogin, "编辑框_密码", "580274 ");  // not trimmed
    rt().Click(kLogin, "按钮1");
    rt().Type(kLogin, "编辑框_用户名", "无此人");
    rt().Type(kLogin, "编辑框_密码", "");
    rt().Click(kLogin, "按钮1");
    rt().Type(kLogin, "编辑框_用户名", "  ");
    rt().Click(kLogin, "按钮1");
    rt().Type(kLogin, "编辑框_用户名", "O'Brien");
    rt().Type(kLogin, "编辑框_密码", "pw'1");  // case differs
    rt().Click(kLogin, "按钮1");
    EXPECT_TRUE(rt().IsOpen(kLogin));
    EXPECT_EQ(app::LoginSucceeded, 0);
    EXPECT_TRUE(app::CurrentUserId.empty());
    rt().Type(kLogin, "编辑框_密码", "Pw'1");
    rt().Click(kLogin, "按钮1");
  });
  rt().OnMessageLoop([&] {
    EXPECT_EQ(rt().Title(kMain), "用户管理(当前用户:O'Brien)");
    EXPECT_EQ(app::CurrentUserId, "2");
    EXPECT_EQ(LogEvents(), std::vector<rt::Text>{"用户登录"});
    EXPECT_EQ(rt().open_record_sets(), 0) << "every attempt released its record set";
  });
  EXPECT_EQ(rt().RunProgram(), 0);
  EXPECT_EQ(messages(), (Messages{{"用户名不可以为空！", kError},
                                  {"验证失败！", kError},
                                  {"验证失败！", kError},
                                  {"验证失败！", kError},
                                  {"验证失败！", kError},
                                  {"验证失败！", kError},
                                  {"验证成功！", kInfo}}));
}

}  // namespace
}  // namespace workflow_test
