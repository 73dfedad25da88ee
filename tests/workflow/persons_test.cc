// The main window's person list, search, record form, add, modify and delete.
#include <filesystem>
#include <fstream>

#include "accounts/handlers.h"
#include "persons/handlers.h"
#include "tests/workflow/alloc_limit.h"
#include "tests/workflow/fixture.h"
#include "vorta/convert.h"
#include "vorta/text_codec.h"

namespace workflow_test {
namespace {

using Messages = std::vector<Message>;
using Texts = std::vector<rt::Text>;

const char kList[] = "超级列表框1";
const char kInsertStart[] = "insert into [用户信息表] ([姓名],[性别],[个人简介],[出生日期],[添加者],[照片]) values ('";

class PersonsTest : public WorkflowTest {
 protected:
  Texts Names() { return rt().Column(kMain, kList, 0); }
  void FillForm(const rt::Text& name, int sex, rt::DateTime birth, const rt::Text& profile) {
    rt().Type(kMain, "编辑框_姓名", name);
    if (sex >= 0) rt().Pick(kMain, "组合框_性别", sex);
    rt().SetDate(kMain, "日期框_出生日期", birth);
    rt().Type(kMain, "编辑框_个人简介", profile);
  }
  int RowOf(const rt::Text& name) {
    Texts names = Names();
    for (size_t i = 0; i < names.size(); ++i)
      if (names[i] == name) return static_cast<int>(i);
    ADD_FAILURE() << "no row " << name;
    return -1;
  }
  void Search(const rt::Text& key, bool fuzzy) {
    rt().Type(kMain, "编辑框_关键字", key);
    rt().Tick(kMain, "选择框1", fuzzy);
    rt().Click(kMain, "按钮5");
  }
};

TEST_F(PersonsTest, ListShowsEveryColumnAndCarriesTheId) {
  int64_t li = SeedPerson("李四", true, "1990-5-7", "第一行\r\n第二行");
  int64_t wang = SeedPerson("王五", false, "2001-12-23 14:05:09", "");
  StartLoggedIn();
  const auto& rows = rt().Rows(kMain, kList);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].cells, (Texts{"李四", "男", "1990-05-07", "第一行\r\n第二行"}));
  EXPECT_EQ(rows[0].data, li);
  EXPECT_EQ(rows[1].cells, (Texts{"王五", "女", "2001-12-23 14:05:09", ""}));
  EXPECT_EQ(rows[1].data, wang);
  EXPECT_EQ(rt().At(kMain, kList).current_row, -1);
}

TEST_F(PersonsTest, SearchExactFuzzyWildcardsAndApostrophes) {
  SeedPerson("张伟", true, "1980-1-1", "");
  SeedPerson("张伟明", true, "1981-1-1", "");
  SeedPerson("李伟", false, "1982-1-1", "");
  SeedPerson("O'Brien", true, "1983-1-1", "");
  SeedPerson("", false, "1984-1-1", "无名");
  SeedPerson("100%纯", false, "1985-1-1", "");
  StartLoggedIn();

  Search("张伟", false);
  EXPECT_EQ(Names(), Texts{"张伟"});
  Search("伟", true);
  EXPECT_EQ(Names(), (Texts{"张伟", "张伟明", "李伟"}));
  Search("", false);
  EXPECT_EQ(Names(), Texts{""}) << "exact with an empty key lists the empty name only";
  Search("", true);
  EXPECT_EQ(Names().size(), 6u);
  Search("张%明", true);
  EXPECT_EQ(Names(), Texts{"张伟明"}) << "% stays a wildcard";
  Search("_伟", true);
  EXPECT_EQ(Names(), (Texts{"张伟", "张伟明", "李伟"})) << "_ stays a wildcard";
  Search("O'Brien", false);
  EXPECT_EQ(Names(), Texts{"O'Brien"});
  Search("'B", true);
  EXPECT_EQ(Names(), Texts{"O'Brien"});
  Search("无此人", false);
  EXPECT_TRUE(Names().empty());
  EXPECT_TRUE(messages().empty()) << "an empty result shows no message";
  EXPECT_EQ(Sent()[0], "select * from [用户信息表] where [姓名]='张伟'");
  EXPECT_EQ(Sent()[1], "select * from [用户信息表] where [姓名] like '%伟%'");
  EXPECT_EQ(Sent()[6], "select * from [用户信息表] where [姓名]='O''Brien'");
  EXPECT_EQ(Sent()[7], "select * from [用户信息表] where [姓名] like '%''B%'");
  EXPECT_TRUE(LogEvents() == Texts{"用户登录"}) << "a search writes no log row";
}

TEST_F(PersonsTest, SelectingARowLoadsTheFormWithItsPhoto) {
  std::string photo = SamplePhoto('a');
  int64_t li = SeedPerson("李四", true, "1990-5-7", "行一\r\n行二", photo);
  SeedPerson("王五", false, "1985-12-1 8:30:00", "");
  StartLoggedIn();
  rt().SelectRow(kMain, kList, RowOf("李四"));
  EXPECT_EQ(Sent(), Texts{"select * from [用户信息表] where [ID]=" + std::to_string(li)});
  EXPECT_EQ(rt().At(kMain, "编辑框_姓名").text, "李四");
  EXPECT_EQ(rt().At(kMain, "编辑框_个人简介").text, "行一\r\n行二");
  EXPECT_EQ(rt().At(kMain, "组合框_性别").index, 0);
  EXPECT_EQ(rt().At(kMain, "组合框_性别").text, "男");
  EXPECT_EQ(rt().At(kMain, "日期框_出生日期").date, headless::Day(1990, 5, 7));
  EXPECT_EQ(rt().At(kMain, "图片框1").picture, photo);

  // A photo chosen for the shown person is dropped by the next selection,
  // and a person without a photo clears the picture.
  rt().ChooseFile(WriteFile("chosen.png", SamplePhoto('z')));
  rt().Click(kMain, "按钮1");
  EXPECT_EQ(rt().At(kMain, "图片框1").picture, SamplePhoto('z'));
  rt().SelectRow(kMain, kList, RowOf("王五"));
  EXPECT_EQ(rt().At(kMain, "组合框_性别").index, 1);
  EXPECT_EQ(rt().At(kMain, "组合框_性别").text, "女");
  EXPECT_EQ(rt().At(kMain, "日期框_出生日期").date, headless::At(1985, 12, 1, 8, 30, 0));
  EXPECT_EQ(rt().At(kMain, "图片框1").picture, "");
  EXPECT_EQ(rt().At(kMain, "编辑框_个人简介").text, "");

  // No current row: nothing runs.
  rt().ClearStatements();
  rt().SelectRow(kMain, kList, -1);
  EXPECT_TRUE(rt().statements().empty());
  EXPECT_EQ(rt().At(kMain, "编辑框_姓名").text, "王五");
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(rt().open_record_sets(), 0);
}

TEST_F(PersonsTest, SelectingAPersonDeletedMeanwhileKeepsTheForm) {
  int64_t li = SeedPerson("李四", true, "1990-5-7", "简介", SamplePhoto('a'));
  SeedPerson("王五", false, "1985-12-1", "");
  StartLoggedIn();
  rt().SelectRow(kMain, kList, RowOf("王五"));
  Exec("delete from [用户信息表] where [ID]=" + std::to_string(li));  // another program
  rt().SelectRow(kMain, kList, RowOf("李四"));
  EXPECT_EQ(rt().At(kMain, "编辑框_姓名").text, "王五");
  EXPECT_EQ(rt().At(kMain, "组合框_性别").text, "女");
  EXPECT_EQ(rt().At(kMain, "图片框1").picture, "");
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(rt().open_record_sets(), 0);
}

TEST_F(PersonsTest, ChoosingAPhotoReadsTheWholeFileCancelKeepsItUnreadableClearsIt) {
  StartLoggedIn();
  std::string not_a_picture("plain text\0with a zero", 22);
  rt().ChooseFile(WriteFile("notes.txt", not_a_picture));
  rt().Click(kMain, "按钮1");
  EXPECT_EQ(rt().At(kMain, "图片框1").picture, not_a_picture);
  rt().Click(kMain, "按钮1");  // no file chosen: cancelled
  EXPECT_EQ(rt().At(kMain, "图片框1").picture, not_a_picture);
  rt().ChooseFile(dir() + "/missing.png");
  rt().Click(kMain, "按钮1");
  EXPECT_EQ(rt().At(kMain, "图片框1").picture, "");
  EXPECT_TRUE(messages().empty());
  EXPECT_TRUE(rt().statements().empty());
}

// Characters outside GBK, as Access users type them, are listed, found,
// loaded and written back as they are; a photo file named with them is read.
TEST_F(PersonsTest, TextsOutsideGbkSurviveTheFormAndTheFileDialog) {
  const std::u16string name = u"Zo\u00EB \uAE40\uBBFC\uC900 \U0001F600";
  const std::u16string profile = u"na\u00EFve \u00DF \u20AC \u2FF0 \u0E01";
  int64_t id = SeedPerson(text::Utf16ToGb18030(name), false, "1990-5-7", text::Utf16ToGb18030(profile));
  StartLoggedIn();
  Search(text::Utf16ToGb18030(name), false);
  ASSERT_EQ(Names(), Texts{text::Utf16ToGb18030(name)});
  rt().SelectRow(kMain, kList, 0);
  rt().Click(kMain, "按钮3");
  EXPECT_EQ(messages(), (Messages{{"数据修改成功！", kInfo}}));
  std::vector<Record> rows = Select("select * from [用户信息表] where [ID]=" + std::to_string(id));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(text::Gb18030ToUtf16(vorta::ToText(Field(rows[0], "姓名"))), name);
  EXPECT_EQ(text::Gb18030ToUtf16(vorta::ToText(Field(rows[0], "个人简介"))), profile);

  rt().ChooseFile(WriteFile(text::Utf16ToGb18030(u"\uC0AC\uC9C4-\u00F6.png"), SamplePhoto('u')));
  rt().Click(kMain, "按钮1");
  EXPECT_EQ(rt().At(kMain, "图片框1").picture, SamplePhoto('u'));
}

TEST_F(PersonsTest, AddStoresTheFormLogsAndRefillsTheList) {
  SeedPerson("李四", true, "1990-5-7", "");
  StartLoggedIn();
  Search("李四", false);
  rt().ClearStatements();
  std::string photo = SamplePhoto('p');
  FillForm("O'Brien", 0, headless::Day(1975, 3, 9), "第一行\r\n'第二行'");
  rt().ChooseFile(WriteFile("photo.png", photo));
  rt().Click(kMain, "按钮1");
  rt().Click(kMain, "按钮2");

  EXPECT_EQ(messages(), (Messages{{"数据添加成功！", kInfo}}));
  EXPECT_EQ(Sent(), (Texts{
                        std::string(kInsertStart) +
                            "O''Brien',true,'第一行\r\n''第二行''','1975-03-09','张三',?)",
                        "insert into [操作日志] ([用户ID],[操作时间],[事件说明]) values (1,now(),'添加人员')",
                        "select * from [用户信息表]",
                    }));
  std::vector<Record> rows = PersonsNamed("O'Brien");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Field(rows[0], "性别"), rt::Value::FromBool(true));
  EXPECT_EQ(vorta::ToText(Field(rows[0], "个人简介")), "第一行\r\n'第二行'");
  EXPECT_EQ(vorta::ToDateTime(Field(rows[0], "出生日期")), headless::Day(1975, 3, 9));
  EXPECT_EQ(vorta::ToText(Field(rows[0], "添加者")), "张三");
  EXPECT_EQ(vorta::ToBinary(Field(rows[0], "照片")), photo);
  EXPECT_EQ(LogEvents(), (Texts{"用户登录", "添加人员"}));
  // The list holds every row again, not the search result.
  EXPECT_EQ(Names(), (Texts{"李四", "O'Brien"}));
  // The form keeps its values.
  EXPECT_EQ(rt().At(kMain, "编辑框_姓名").text, "O'Brien");
}

TEST_F(PersonsTest, AddAcceptsEmptyNameNoSexAndNoPhotoAndAddsTwiceWhenClickedTwice) {
  StartLoggedIn();
  FillForm("", -1, headless::Day(2000, 2, 29), "");
  rt().Click(kMain, "按钮2");
  rt().Click(kMain, "按钮2");
  EXPECT_EQ(messages(), (Messages{{"数据添加成功！", kInfo}, {"数据添加成功！", kInfo}}));
  EXPECT_EQ(Sent()[0], std::string(kInsertStart) + "',false,'','2000-02-29','张三',?)");
  std::vector<Record> rows = PersonsNamed("");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_NE(vorta::ToText(Field(rows[0], "ID")), vorta::ToText(Field(rows[1], "ID")));
  for (const Record& r : rows) {
    EXPECT_EQ(Field(r, "性别"), rt::Value::FromBool(false));
    EXPECT_EQ(vorta::ToBinary(Field(r, "照片")), "");
  }
  EXPECT_EQ(rt().Column(kMain, kList, 1), (Texts{"女", "女"}));
  EXPECT_EQ(LogEvents(), (Texts{"用户登录", "添加人员", "添加人员"}));
}

TEST_F(PersonsTest, AddOfAShownRowStoresASecondCopyWithTheShownPhoto) {
  std::string photo = SamplePhoto('s');
  int64_t li = SeedPerson("李四", false, "1990-5-7", "简介", photo);
  StartLoggedIn();
  rt().SelectRow(kMain, kList, 0);
  rt().Click(kMain, "按钮2");
  std::vector<Record> rows = PersonsNamed("李四");
  ASSERT_EQ(rows.size(), 2u);
  for (const Record& r : rows) {
    EXPECT_EQ(vorta::ToBinary(Field(r, "照片")), photo);
    EXPECT_EQ(vorta::ToDateTime(Field(r, "出生日期")), headless::Day(1990, 5, 7));
  }
  EXPECT_EQ(vorta::ToText(Field(rows[0], "添加者")), "种子") << "the shown row is unchanged";
  EXPECT_EQ(vorta::ToText(Field(rows[0], "ID")), std::to_string(li));
  EXPECT_EQ(vorta::ToText(Field(rows[1], "添加者")), "张三");
}

TEST_F(PersonsTest, ModifyRewritesTheCurrentRowAndKeepsOrDropsThePhoto) {
  std::string photo = SamplePhoto('m');
  int64_t li = SeedPerson("李四", true, "1990-5-7", "旧", photo);
  int64_t wang = SeedPerson("王五", false, "1985-12-1", "");
  Exec("update [用户信息表] set [照片]=? where [ID]=" + std::to_string(wang), &photo);
  StartLoggedIn();

  // Unchanged form: the row is rewritten, photo kept, operator recorded.
  rt().SelectRow(kMain, kList, RowOf("李四"));
  rt().ClearStatements();
  rt().Click(kMain, "按钮3");
  EXPECT_EQ(messages(), (Messages{{"数据修改成功！", kInfo}}));
  std::string id = std::to_string(li);
  EXPECT_EQ(Sent(), (Texts{
                        "update  [用户信息表] set [姓名]='李四',[性别]=true,[个人简介]='旧',[出生日期]='1990-05-07',"
                        "[添加者]='张三',[照片]=? where [ID]=" + id,
                        "insert into [操作日志] ([用户ID],[操作时间],[事件说明]) values (1,now(),'修改人员')",
                        "select * from [用户信息表]",
                    }));
  std::vector<Record> rows = PersonsNamed("李四");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(vorta::ToBinary(Field(rows[0], "照片")), photo);
  EXPECT_EQ(vorta::ToText(Field(rows[0], "添加者")), "张三");
  EXPECT_EQ(rt().At(kMain, kList).current_row, -1) << "the refill drops the current row";

  // Edited, with an apostrophe, and shown without a photo: the photo is lost.
  rt().SelectRow(kMain, kList, RowOf("王五"));
  EXPECT_EQ(rt().At(kMain, "图片框1").picture, photo);
  rt().SetProperty(rt::ControlRef{kMain, "图片框1"}, rt::Prop::Picture, rt::Value::FromBytes(""));
  FillForm("王'五", 0, headless::Day(1986, 1, 2), "新\r\n简介");
  rt().Pick(kMain, "组合框_性别", 1);
  rt().Click(kMain, "按钮3");
  rows = PersonsNamed("王'五");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(vorta::ToText(Field(rows[0], "ID")), std::to_string(wang));
  EXPECT_EQ(Field(rows[0], "性别"), rt::Value::FromBool(false));
  EXPECT_EQ(vorta::ToText(Field(rows[0], "个人简介")), "新\r\n简介");
  EXPECT_EQ(vorta::ToDateTime(Field(rows[0], "出生日期")), headless::Day(1986, 1, 2));
  EXPECT_EQ(vorta::ToBinary(Field(rows[0], "照片")), "");
  EXPECT_TRUE(PersonsNamed("王五").empty());
  EXPECT_EQ(Names(), (Texts{"李四", "王'五"}));
  EXPECT_EQ(LogEvents(), (Texts{"用户登录", "修改人员", "修改人员"}));

  // A second click after the refill names no row.
  rt().ClearMessages();
  rt().ClearStatements();
  rt().Click(kMain, "按钮3");
  EXPECT_EQ(messages(), (Messages{{"数据修改失败！", kError}}));
  EXPECT_TRUE(rt().statements().empty());
  EXPECT_EQ(LogEvents(), (Texts{"用户登录", "修改人员", "修改人员"}));
  EXPECT_EQ(PersonsNamed("王'五").size(), 1u);
}

TEST_F(PersonsTest, DeleteRemovesOnlyThatRowAndTheFormCanAddItAgain) {
  std::string photo = SamplePhoto('d');
  SeedPerson("甲", true, "1990-1-1", "");
  int64_t yi = SeedPerson("乙", false, "1991-2-2", "乙的简介", photo);
  SeedPerson("丙", true, "1992-3-3", "");
  StartLoggedIn();
  Search("", true);
  rt().SelectRow(kMain, kList, RowOf("乙"));
  rt().ClearStatements();
  rt().Click(kMain, "按钮4");
  EXPECT_EQ(messages(), (Messages{{"数据删除成功！", kInfo}}));
  EXPECT_EQ(Sent(), (Texts{
                        "delete from [用户信息表]  where  [ID]=" + std::to_string(yi),
                        "insert into [操作日志] ([用户ID],[操作时间],[事件说明]) values (1,now(),'删除人员')",
                    }));
  EXPECT_EQ(Names(), (Texts{"甲", "丙"}));
  EXPECT_EQ(rt().Column(kMain, kList, 1), (Texts{"男", "男"}));
  EXPECT_TRUE(PersonsNamed("乙").empty());
  EXPECT_EQ(Count("select * from [用户信息表]"), 2);
  EXPECT_EQ(LogEvents(), (Texts{"用户登录", "删除人员"}));
  // The form still shows the deleted person; adding stores it again.
  EXPECT_EQ(rt().At(kMain, "编辑框_姓名").text, "乙");
  rt().Click(kMain, "按钮2");
  std::vector<Record> again = PersonsNamed("乙");
  ASSERT_EQ(again.size(), 1u);
  EXPECT_NE(vorta::ToText(Field(again[0], "ID")), std::to_string(yi));
  EXPECT_EQ(vorta::ToBinary(Field(again[0], "照片")), photo);
  EXPECT_EQ(vorta::ToText(Field(again[0], "个人简介")), "乙的简介");
}

TEST_F(PersonsTest, ModifyAndDeleteWithoutACurrentRowSendNothing) {
  SeedPerson("甲", true, "1990-1-1", "");
  StartLoggedIn();
  FillForm("乙", 1, headless::Day(1991, 1, 1), "");
  rt().Click(kMain, "按钮3");
  rt().Click(kMain, "按钮4");
  EXPECT_EQ(messages(), (Messages{{"数据修改失败！", kError}, {"数据删除失败！", kError}}));
  EXPECT_TRUE(rt().statements().empty());
  EXPECT_EQ(Names(), Texts{"甲"});
  EXPECT_EQ(Count("select * from [用户信息表]"), 1);
  EXPECT_EQ(PersonsNamed("甲").size(), 1u);
  EXPECT_EQ(LogEvents(), Texts{"用户登录"});
}

// A photo file larger than the program takes (64 MB) is refused with a
// message before it is read, and the picture stays; one of exactly 64 MB
// goes in and comes back byte for byte.
TEST_F(PersonsTest, PhotosUpToSixtyFourMegabytesLargerOnesRefused) {
  StartLoggedIn();
  rt().ChooseFile(WriteFile("small.png", SamplePhoto('s')));
  rt().Click(kMain, "按钮1");
  const size_t kLimit = size_t{64} << 20;
  rt::Text too_large = WriteFile("too-large.png", "");
  std::filesystem::resize_file(Fs(text::Gb18030ToUtf8(too_large)), kLimit + 1);
  rt().ChooseFile(too_large);
  rt().Click(kMain, "按钮1");
  EXPECT_EQ(messages(), (Messages{{"照片文件超过64MB，不能选用！", kError}}));
  EXPECT_EQ(rt().At(kMain, "图片框1").picture, SamplePhoto('s'));

  std::string photo(kLimit, '\0');
  for (size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<char>((i * 2654435761u) >> 13);
  rt().ChooseFile(WriteFile("limit.png", photo));
  rt().Click(kMain, "按钮1");
  FillForm("大照片", 0, headless::Day(1990, 1, 1), "");
  rt().Click(kMain, "按钮2");
  rt().SetProperty(rt::ControlRef{kMain, "图片框1"}, rt::Prop::Picture, rt::Value::FromBytes(""));
  rt().SelectRow(kMain, kList, RowOf("大照片"));
  EXPECT_TRUE(rt().At(kMain, "图片框1").picture == photo);
  EXPECT_EQ(messages().size(), 2u);  // the refusal, then "数据添加成功！"
}

// Memory running out in a handler or in the database unit is a failed
// operation with the handler's own message: nothing changes, nothing is
// read as empty, and the program goes on.
TEST_F(PersonsTest, RunningOutOfMemoryIsAFailedOperation) {
  const std::string photo(8 << 20, 'p');
  int64_t li = SeedPerson("李四", true, "1990-5-7", "简介", photo);
  SeedPerson("王五", false, "1985-12-1", "旧");
  StartLoggedIn();
  rt().SelectRow(kMain, kList, RowOf("王五"));
  rt::Text chosen = WriteFile("chosen.png", photo);
  {
    AllocationLimit limit(4 << 20);
    rt().SelectRow(kMain, kList, RowOf("李四"));  // its photo does not fit
    rt().ChooseFile(chosen);
    rt().Click(kMain, "按钮1");
  }
  EXPECT_EQ(messages(), (Messages{{"查询失败!", kError}, {"照片文件未能读入，照片未改变！", kError}}));
  EXPECT_EQ(rt().At(kMain, "编辑框_姓名").text, "王五");
  EXPECT_EQ(rt().At(kMain, "图片框1").picture, "");
  EXPECT_EQ(rt().open_record_sets(), 0);

  rt().SelectRow(kMain, kList, RowOf("李四"));
  EXPECT_TRUE(rt().At(kMain, "图片框1").picture == photo);
  rt().Type(kMain, "编辑框_姓名", "李四改");
  rt().ClearMessages();
  {
    AllocationLimit limit(4 << 20);
    rt().Click(kMain, "按钮2");
    rt().Click(kMain, "按钮3");
  }
  EXPECT_EQ(messages(), (Messages{{"数据添加失败！", kError}, {"数据修改失败！", kError}}));
  std::vector<Record> rows = Select("select * from [用户信息表]");
  EXPECT_EQ(rows.size(), 2u);
  EXPECT_TRUE(PersonsNamed("李四改").empty());
  rt().Click(kMain, "按钮3");
  rows = PersonsNamed("李四改");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(vorta::ToText(Field(rows[0], "ID")), std::to_string(li));
  EXPECT_TRUE(vorta::ToBinary(Field(rows[0], "照片")) == photo);
}

// A field that cannot be read (a damaged long value: its pages no longer
// say they hold data) shows "查询失败!" and leaves the form as it was, so the photo that
// could not be read is not taken for none; the rest of the file still works.
TEST_F(PersonsTest, ReadErrorsShowTheFailureAndLeaveTheForm) {
  const std::string photo(200000, 'q');  // a long value over many pages
  SeedPerson("李四", true, "1990-5-7", "简介", photo);
  SeedPerson("王五", false, "1985-12-1", "旧");
  Db().CloseDatabase();
  {
    std::fstream f(db_path(), std::ios::in | std::ios::out | std::ios::binary);
    std::string page(4096, '\0');
    int damaged = 0;
    for (std::streamoff at = 0; f.seekg(at).read(page.data(), 4096); at += 4096) {
      if (page[0] != 1 || page.compare(4, 4, "LVAL") != 0 || page.find(std::string(1000, 'q')) == std::string::npos)
        continue;
      f.seekp(at).put('\x04');
      ++damaged;
    }
    ASSERT_GT(damaged, 0);
  }
  StartLoggedIn();
  ASSERT_EQ(Names(), (Texts{"李四", "王五"}));
  rt().SelectRow(kMain, kList, RowOf("王五"));
  rt().SelectRow(kMain, kList, RowOf("李四"));
  EXPECT_EQ(messages(), (Messages{{"查询失败!", kError}}));
  EXPECT_EQ(rt().At(kMain, "编辑框_姓名").text, "王五");
  EXPECT_EQ(rt().At(kMain, "编辑框_个人简介").text, "旧");
  EXPECT_EQ(rt().At(kMain, "组合框_性别").index, 1);
  EXPECT_EQ(rt().At(kMain, "日期框_出生日期").date, headless::Day(1985, 12, 1));
  EXPECT_EQ(rt().open_record_sets(), 0);
}

// A birth date before the first day the date box's calendar shows
// (1752-09-14) is loaded like any other and written back as it was.
TEST_F(PersonsTest, EarlyBirthDatesAreLoadedAndWrittenBackAsStored) {
  int64_t old = SeedPerson("古人", true, "1700-01-01", "");
  SeedPerson("今人", false, "1990-05-07", "");
  StartLoggedIn();
  rt().SelectRow(kMain, kList, RowOf("今人"));
  rt().SelectRow(kMain, kList, RowOf("古人"));
  EXPECT_EQ(rt().At(kMain, "日期框_出生日期").date, headless::Day(1700, 1, 1));
  rt().Click(kMain, "按钮3");
  std::vector<Record> rows = Select("select * from [用户信息表] where [ID]=" + std::to_string(old));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(vorta::ToDateTime(Field(rows[0], "出生日期")), headless::Day(1700, 1, 1));
}

TEST_F(PersonsTest, ValuesOfAnUnexpectedKindEndTheFillAndReleaseTheRecordSet) {
  SeedPerson("甲", true, "1990-1-1", "");
  SeedPerson("乙", false, "1991-1-1", "");
  StartLoggedIn();
  rt::ControlRef list{kMain, kList};
  persons::FillPersonList(list, "select [ID] as [姓名], [ID], [性别] from [用户信息表]");
  EXPECT_TRUE(Names().empty()) << "a name that is no text ends the fill";
  persons::FillPersonList(list, "select [姓名], [ID], [出生日期] as [性别] from [用户信息表]");
  ASSERT_EQ(Names(), Texts{"甲"}) << "a sex that is no yes/no ends the fill after its row was added";
  EXPECT_EQ(rt().Rows(kMain, kList)[0].cells[1], "");
  persons::FillPersonList(list, "select [姓名], [姓名] as [ID], [性别] from [用户信息表]");
  EXPECT_TRUE(Names().empty()) << "an [ID] that is no number ends the fill";
  rt().OnModal(kAdmin, [&] {
    rt::ControlRef accounts{kAdmin, kList};
    accounts::FillAdministratorList(accounts, "select [ID] as [用户名], [ID], [密码] from [用户表]");
    EXPECT_TRUE(rt().Rows(kAdmin, kList).empty());
  });
  rt().Click(kMain, "按钮7");
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(rt().open_record_sets(), 0);
}

}  // namespace
}  // namespace workflow_test
