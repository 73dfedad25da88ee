// The login window, the birth-date statistics window and the administrators
// window.
#include "accounts/handlers.h"

#include "app/controls.h"
#include "app/globals.h"
#include "data/fields.h"
#include "data/oplog.h"
#include "data/sql_text.h"
#include "persons/handlers.h"

#include <new>

namespace accounts {

namespace {

using rt::WindowId;

// Window "用户登录".
const rt::ControlRef 编辑框_用户名{WindowId::Login, "编辑框_用户名"};
const rt::ControlRef 编辑框_密码{WindowId::Login, "编辑框_密码"};

// Window "统计".
const rt::ControlRef 统计_日期框_出生日期{WindowId::Stats, "日期框_出生日期"};
const rt::ControlRef 统计_日期框_出生日期1{WindowId::Stats, "日期框_出生日期1"};
const rt::ControlRef 统计_超级列表框1{WindowId::Stats, "超级列表框1"};

// Window "管理员".
const rt::ControlRef 管理员_超级列表框1{WindowId::Admin, "超级列表框1"};

}  // namespace

void OnLoginClicked() {
  app::Guarded("查询失败!", [] {
    const rt::DbRef& db = app::Database;
    if (app::GetText(编辑框_用户名).empty()) {
      rt::ShowMessage("用户名不可以为空！", rt::kIconError);
      return;
    }
    rt::Text statement =
        "select * from [用户表] where [用户名]='" + data::Quoted(app::GetText(编辑框_用户名)) + "'";
    int rs = rt::Query(db, statement);
    if (rs == 0) {
      rt::ShowMessage("查询失败!", rt::kIconError);
      return;
    }
    app::RecordSetCloser records(db, rs);
    rt::MoveFirst(db, rs);
    // A name without an account row is a failed attempt like a wrong password.
    rt::Text stored;
    bool found = !rt::IsAfterLast(db, rs);
    rt::Value password = found ? rt::ReadField(db, rs, "密码") : rt::Value();
    rt::Value id = found ? rt::ReadField(db, rs, "ID") : rt::Value();
    if (password.failed() || id.failed()) {
      rt::ShowMessage("查询失败!", rt::kIconError);
      return;
    }
    if (found && !data::AsText(password, &stored)) return;  // not a text: the verification ends here
    if (!found || app::GetText(编辑框_密码) != stored) {
      records.Close();
      rt::ShowMessage("验证失败！", rt::kIconError);
      return;
    }
    app::CurrentUserId = rt::ToText(std::move(id));
    app::CurrentUserName = app::GetText(编辑框_用户名);
    bool logged = rt::ExecuteSql(db, data::LogStatement(data::kEventLogin));
    records.Close();
    if (!logged) {
      rt::ShowMessage("数据添加失败！", rt::kIconError);
      return;
    }
    rt::ShowMessage("验证成功！", rt::kIconInformation);
    app::LoginSucceeded = 1;
    rt::CloseWindow(WindowId::Login);
  });
}

void OnCancelClicked() { rt::EndProgram(0); }

rt::Text FormatQueryDate(rt::DateTime d) {
  rt::Text year = rt::ToText(rt::GetYear(d));
  rt::Text month = rt::ToText(rt::GetMonth(d));
  rt::Text day = rt::ToText(rt::GetDay(d));
  rt::Text hour = rt::ToText(rt::GetHour(d));
  rt::Text minute = rt::ToText(rt::GetMinute(d));
  rt::Text second = rt::ToText(rt::GetSecond(d));
  return year + "-" + month + "-" + day + " " + hour + ":" + minute + ":" + second;
}

void OnStatisticQueryClicked() {
  app::Guarded("查询失败!", [] {
    rt::Text lower = FormatQueryDate(app::GetDate(统计_日期框_出生日期));
    rt::Text upper = FormatQueryDate(app::GetDate(统计_日期框_出生日期1));
    rt::Text statement = "select * from [用户信息表] where [出生日期] between #" + lower + "# and #" +
                         upper + "# order by [姓名] asc";
    persons::FillPersonList(统计_超级列表框1, statement);
  });
}

void OnAdministratorsWindowCreated() {
  app::Guarded("查询失败!", [] { FillAdministratorList(管理员_超级列表框1, "select * from [用户表]"); });
}

void FillAdministratorList(const rt::ControlRef& list, const rt::Text& statement) {
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
      rt::Value name_value = rt::ReadField(db, rs, "用户名");
      rt::Value id_value = rt::ReadField(db, rs, "ID");
      rt::Value password = rt::ReadField(db, rs, "密码");
      // A field that cannot be read ends the fill with the message; one of
      // another kind than the schema gives ends it quietly.
      if (name_value.failed() || id_value.failed() || password.failed()) {
        records.Close();
        rt::ShowMessage("查询失败!", rt::kIconError);
        return;
      }
      if (!data::AsText(name_value, &name)) break;
      if (!data::AsRowValue(id_value, &id)) break;
      int row = rt::InsertItem(list, name, id);
      if (row < 0) throw std::bad_alloc();  // the list could not take the row
      rt::SetItemText(list, row, 1, rt::ToText(std::move(password)));
      rt::MoveNext(db, rs);
    }
    records.Close();
  });
}

void OnDeleteAccountClicked() {
  app::Guarded("数据删除失败！", [] {
    int answer = rt::ShowMessage("删除管理员，管理员对应的日志也将删除，是否继续？",
                                 rt::kYesNo | rt::kIconQuestion);
    if (answer != rt::kIdYes) return;
    int row = app::GetCurrentRow(管理员_超级列表框1);
    // No selected row names no account: delete nothing.
    if (row < 0) {
      rt::ShowMessage("数据删除失败！", rt::kIconError);
      return;
    }
    rt::Text id = rt::ToText(rt::GetItemData(管理员_超级列表框1, row));
    rt::Text statement = "delete from [用户表]  where  [ID]=" + id;
    if (!rt::ExecuteSql(app::Database, statement)) {
      rt::ShowMessage("数据删除失败！", rt::kIconError);
      return;
    }
    rt::ShowMessage("数据删除成功！", rt::kIconInformation);
    rt::DeleteItem(管理员_超级列表框1, app::GetCurrentRow(管理员_超级列表框1));
  });
}

}  // namespace accounts
