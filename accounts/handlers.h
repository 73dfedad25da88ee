// Handlers of the login, statistics and administrators windows.
#pragma once

#include "runtime/runtime.h"

namespace accounts {

// Window "用户登录".
void OnLoginClicked();   // 按钮1 "登录"
void OnCancelClicked();  // 按钮2 "取消"

// Window "统计".
void OnStatisticQueryClicked();  // 按钮1 "统计"
rt::Text FormatQueryDate(rt::DateTime d);

// Window "管理员".
void OnAdministratorsWindowCreated();
void OnDeleteAccountClicked();  // 按钮4 "删除"
void FillAdministratorList(const rt::ControlRef& list, const rt::Text& statement);

}  // namespace accounts
