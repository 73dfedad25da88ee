// The main window: start-up and close-down, the person list and search, the
// record form and photo, add, modify and delete, and the two buttons that
// open the statistics and administrators windows.
#include "persons/handlers.h"

#include "app/controls.h"
#include "app/globals.h"
#include "data/connection.h"
#include "data/fields.h"
#include "data/oplog.h"
#include "data/sql_text.h"

#include <initializer_list>
#include <new>

namespace persons {

namespace {

using rt::WindowId;

// The main window itself (its title) and its controls.
const rt::ControlRef 用户管理{WindowId::Main, ""};
const rt::ControlRef 编辑框_姓名{WindowId::Main, "编辑框_姓名"};
const rt::ControlRef 组合框_性别{WindowId::Main, "组合框_性别"};
const rt::ControlRef 日期框_出生日期{WindowId::Main, "日期框_出生日期"};
const rt::ControlRef 编辑框_个人简介{WindowId::Main, "编辑框_个人简介"};
const rt::ControlRef 图片框1{WindowId::Main, "图片框1"};
const rt::ControlRef 通用对话框1{WindowId::Main, "通用对话框1"};
const rt::ControlRef 编辑框_关键字{WindowId::Main, "编辑框_关键字"};
const rt::ControlRef 选择框1{WindowId::Main, "选择框1"};
const rt::ControlRef 超级列表框1{WindowId::Main, "超级列表框1"};
const rt::DbRef 外部数据库1{WindowId::Main, "外部数据库1"};

const char kAllPersons[] = "select * from [用户信息表]";

// The largest photo the program takes: on its way from the file to the
// database it is held four times (the picture box, the handler's block, the
// statement's value, the pages written), the first three each in one piece
// of the 32-bit process's 2 GB, which the libraries loaded into it break up.
// 64 MB leaves room for all four and for a list of a million persons.
constexpr int64_t kMaxPhotoBytes = int64_t{64} << 20;

// Any value that could not be read.
bool AnyFailed(std::initializer_list<const rt::Value*> values) {
  for (const rt::Value* v : values)
    if (v->failed()) return true;
  return false;
}

}  // namespace

void FillPersonList(const rt::ControlRef& list, const rt::Text& statement) {
  app::Guarded("查询失败!", [&] {
    const rt::DbRef& db = app::Database;
    rt::DeleteAllItems(list);
    int rs = rt::Query(db, statement);
    if (rs == 0) {
      rt::ShowMessage("查询失败!", rt::kIconError);
      return;
    }
    app::RecordSetCloser records(db, rs);
    rt::MoveFirst(db, rs);
    while (!rt::IsAfterLast(db, rs)) {
      rt::Text name;
      int32_t id = 0;
      bool male = false;
      rt::Value name_value = rt::ReadField(db, rs, "姓名");
      rt::Value id_value = rt::ReadField(db, rs, "ID");
      rt::Value sex_value = rt::ReadField(db, rs, "性别");
      rt::Value birth = rt::ReadField(db, rs, "出生日期");
      rt::Value profile = rt::ReadField(db, rs, "个人简介");
      // A field that cannot be read ends the fill with the message; one of
      // another kind than the schema gives ends it quietly.
      if (AnyFailed({&name_value, &id_value, &sex_value, &birth, &profile})) {
        records.Close();
        rt::ShowMessage("查询失败!", rt::kIconError);
        return;
      }
      if (!data::AsText(name_value, &name)) break;
      if (!data::AsRowValue(id_value, &id)) break;
      int row = rt::InsertItem(list, name, id);
      if (row < 0) throw std::bad_alloc();  // the list could not take the row
      if (!data::AsYesNo(sex_value, &male)) break;
      rt::SetItemText(list, row, 1, male ? "男" : "女");
      rt::SetItemText(list, row, 2, rt::ToText(std::move(birth)));
      rt::SetItemText(list, row, 3, rt::ToText(std::move(profile)));
      rt::MoveNext(db, rs);
    }
    records.Close();
  });
}

void OnMainWindowCreated() {
  // A start-up that could not run to its end ends the program, as a failed
  // open does: the main window is never left without a login.
  bool started = app::Guarded("数据库连接失败！", [] {
    app::Database = 外部数据库1;
    rt::Text path = rt::GetRunDirectory() + data::kDatabaseFileName;
    bool opened = rt::OpenMdb(app::Database, path, data::kDatabasePassword);
    if (!opened) {
      rt::ShowMessage("数据库连接失败！", rt::kIconError);
      rt::EndProgram(0);
    }
    rt::LoadWindow(WindowId::Login, /*modal=*/true);
    if (app::LoginSucceeded == 0) rt::EndProgram(0);
    rt::Text title = "用户管理(当前用户:" + app::CurrentUserName + ")";
    app::Set(用户管理, rt::Prop::Title, rt::Value::FromText(std::move(title)));
    FillPersonList(超级列表框1, kAllPersons);
  });
  if (!started) rt::EndProgram(0);
}

void OnMainWindowCloseRequest() { rt::CloseDatabase(外部数据库1); }

void OnMainWindowDestroy() { rt::CloseDatabase(外部数据库1); }

void OnSearchClicked() {
  app::Guarded("查询失败!", [] {
    bool fuzzy = app::IsChecked(选择框1);
    rt::Text key = data::Quoted(app::GetText(编辑框_关键字));
    rt::Text statement;
    if (fuzzy)
      statement = "select * from [用户信息表] where [姓名] like '%" + key + "%'";
    else
      statement = "select * from [用户信息表] where [姓名]='" + key + "'";
    FillPersonList(超级列表框1, statement);
  });
}

void OnPersonListRowChanged() {
  app::Guarded("查询失败!", [] {
    const rt::DbRef& db = app::Database;
    int row = app::GetCurrentRow(超级列表框1);
    if (row < 0) return;
    rt::Text id = rt::ToText(rt::GetItemData(超级列表框1, row));
    rt::Text statement = "select * from [用户信息表] where [ID]=" + id;
    int rs = rt::Query(db, statement);
    if (rs == 0) {
      rt::ShowMessage("查询失败!", rt::kIconError);
      return;
    }
    app::RecordSetCloser records(db, rs);
    rt::MoveFirst(db, rs);
    // The person may be gone since the list was filled: keep the form.
    if (rt::IsAfterLast(db, rs)) return;
    // Every field is read before the form changes: one that cannot be read
    // leaves the form as it was, so that a 修改 cannot write over what could
    // not be read.
    rt::Value name = rt::ReadField(db, rs, "姓名");
    rt::Value profile = rt::ReadField(db, rs, "个人简介");
    rt::Value sex = rt::ReadField(db, rs, "性别");
    rt::Value birth = rt::ReadField(db, rs, "出生日期");
    rt::Value photo = rt::ReadField(db, rs, "照片");
    records.Close();
    if (AnyFailed({&name, &profile, &sex, &birth, &photo})) {
      rt::ShowMessage("查询失败!", rt::kIconError);
      return;
    }
    app::Set(编辑框_姓名, rt::Prop::Text, rt::Value::FromText(rt::ToText(std::move(name))));
    app::Set(编辑框_个人简介, rt::Prop::Text, rt::Value::FromText(rt::ToText(std::move(profile))));
    bool male = false;
    if (data::AsYesNo(sex, &male)) {
      app::Set(组合框_性别, rt::Prop::Index, rt::Value::FromInt(male ? 0 : 1));
      app::Set(日期框_出生日期, rt::Prop::Date, rt::Value::FromDate(rt::ToDateTime(birth)));
      app::Set(图片框1, rt::Prop::Picture, rt::Value::FromBytes(rt::ToBinary(std::move(photo))));
    }
  });
}

void OnChoosePhotoClicked() {
  app::Guarded("照片文件未能读入，照片未改变！", [] {
    if (!rt::ShowFileDialog(通用对话框1)) return;
    rt::Text file = app::GetFileName(通用对话框1);
    // A file too large to hold is refused before it is read; the picture
    // stays as it was.
    int64_t size = rt::FileSize(file);
    if (size > kMaxPhotoBytes) {
      rt::ShowMessage("照片文件超过64MB，不能选用！", rt::kIconError);
      return;
    }
    rt::Bytes photo = rt::ReadFile(file);
    // Bytes there but not read in (memory ran short, the disk failed): the
    // picture stays. A file that cannot be opened gives an empty picture.
    if (size > 0 && photo.empty()) throw std::bad_alloc();
    app::Set(图片框1, rt::Prop::Picture, rt::Value::FromBytes(std::move(photo)));
  });
}

void OnAddClicked() {
  app::Guarded("数据添加失败！", [] {
    const char* sex = data::SexWord(app::GetText(组合框_性别));
    rt::Text date = rt::ToText(app::GetDate(日期框_出生日期));
    rt::Text name = app::GetText(编辑框_姓名);
    rt::Text profile = app::GetText(编辑框_个人简介);
    rt::Text statement =
        "insert into [用户信息表] ([姓名],[性别],[个人简介],[出生日期],[添加者],[照片]) values ('" +
        data::Quoted(name) + "'," + sex + ",'" + data::Quoted(profile) + "','" + data::Quoted(date) +
        "','" + data::Quoted(app::CurrentUserName) + "',?)";
    rt::Bytes photo = app::GetPicture(图片框1);
    if (!rt::ExecuteSql(app::Database, statement, &photo)) {
      rt::ShowMessage("数据添加失败！", rt::kIconError);
      return;
    }
    rt::Bytes().swap(photo);
    rt::ShowMessage("数据添加成功！", rt::kIconInformation);
    if (!data::WriteLogRow(data::kEventAdd)) return;
    FillPersonList(超级列表框1, kAllPersons);
  });
}

void OnModifyClicked() {
  app::Guarded("数据修改失败！", [] {
    const char* sex = data::SexWord(app::GetText(组合框_性别));
    rt::Text date = rt::ToText(app::GetDate(日期框_出生日期));
    int row = app::GetCurrentRow(超级列表框1);
    // No current row names no person: nothing to rewrite.
    if (row < 0) {
      rt::ShowMessage("数据修改失败！", rt::kIconError);
      return;
    }
    rt::Text id = rt::ToText(rt::GetItemData(超级列表框1, row));
    rt::Text name = app::GetText(编辑框_姓名);
    rt::Text profile = app::GetText(编辑框_个人简介);
    rt::Text statement = "update  [用户信息表] set [姓名]='" + data::Quoted(name) + "',[性别]=" + sex +
                         ",[个人简介]='" + data::Quoted(profile) + "',[出生日期]='" + data::Quoted(date) +
                         "',[添加者]='" + data::Quoted(app::CurrentUserName) + "',[照片]=? where [ID]=" + id;
    rt::Bytes photo = app::GetPicture(图片框1);
    if (!rt::ExecuteSql(app::Database, statement, &photo)) {
      rt::ShowMessage("数据修改失败！", rt::kIconError);
      return;
    }
    rt::Bytes().swap(photo);
    rt::ShowMessage("数据修改成功！", rt::kIconInformation);
    if (!data::WriteLogRow(data::kEventModify)) return;
    FillPersonList(超级列表框1, kAllPersons);
  });
}

void OnDeleteClicked() {
  app::Guarded("数据删除失败！", [] {
    int row = app::GetCurrentRow(超级列表框1);
    if (row < 0) {
      rt::ShowMessage("数据删除失败！", rt::kIconError);
      return;
    }
    rt::Text id = rt::ToText(rt::GetItemData(超级列表框1, row));
    rt::Text statement = "delete from [用户信息表]  where  [ID]=" + id;
    if (!rt::ExecuteSql(app::Database, statement)) {
      rt::ShowMessage("数据删除失败！", rt::kIconError);
      return;
    }
    rt::ShowMessage("数据删除成功！", rt::kIconInformation);
    if (!data::WriteLogRow(data::kEventDelete)) return;
    rt::DeleteItem(超级列表框1, app::GetCurrentRow(超级列表框1));
  });
}

void OnStatisticsClicked() {
  rt::LoadWindow(WindowId::Stats, /*modal=*/true);
  app::Guarded("数据添加失败！", [] { data::WriteLogRow(data::kEventStatistics); });
}

void OnAdministratorsClicked() { rt::LoadWindow(WindowId::Admin, /*modal=*/true); }

}  // namespace persons
