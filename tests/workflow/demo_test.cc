// A new user's first minute: "usermgr-db demo" makes a database that the
// program opens, with the prefilled login, into a filled main window.
#include <cstdlib>
#include <filesystem>

#include "tests/workflow/fixture.h"
#include "vorta/convert.h"

namespace workflow_test {
namespace {

class DemoTest : public WorkflowTest {};

TEST_F(DemoTest, PrefilledLoginOpensTheFilledMainWindow) {
#ifdef _WIN32
  GTEST_SKIP() << "runs the companion tool through a POSIX shell";
#endif
  std::filesystem::remove(db_path());
  std::string command = std::string(USERMGR_BINARY_DIR) + "/usermgr-db demo '" + db_path().string() + "' > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  // A second run refuses to overwrite the file.
  ASSERT_NE(std::system((command + " 2>&1").c_str()), 0);

  StartLoggedIn();
  EXPECT_EQ(rt().Title(kMain), "用户管理(当前用户:张三)");
  const auto& rows = rt().Rows(kMain, "超级列表框1");
  ASSERT_GE(rows.size(), 5u);
  for (size_t i = 0; i < rows.size(); ++i) {
    const headless::Row& row = rows[i];
    EXPECT_FALSE(row.cells[0].empty());
    EXPECT_TRUE(row.cells[1] == "男" || row.cells[1] == "女");
    EXPECT_EQ(row.cells[2].size(), 10u) << "a birth date at midnight: " << row.cells[2];
    rt().SelectRow(kMain, "超级列表框1", static_cast<int>(i));
    const rt::Bytes& photo = rt().At(kMain, "图片框1").picture;
    ASSERT_GT(photo.size(), 8u);
    EXPECT_EQ(photo.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(rt().At(kMain, "编辑框_姓名").text, row.cells[0]);
  }
  bool some_profile_has_lines = false;
  for (const headless::Row& row : rows) some_profile_has_lines |= row.cells[3].find("\r\n") != rt::Text::npos;
  EXPECT_TRUE(some_profile_has_lines);
  EXPECT_TRUE(messages().empty());
}

}  // namespace
}  // namespace workflow_test
