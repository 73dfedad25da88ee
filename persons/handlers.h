// The main window's handlers (window "用户管理").
#pragma once

#include "runtime/runtime.h"

namespace persons {

void OnMainWindowCreated();       // start-up: open, log in, title, fill
void OnMainWindowCloseRequest();  // close the database; always granted
void OnMainWindowDestroy();       // close the database again
void OnChoosePhotoClicked();      // 按钮1 "选择照片"
void OnAddClicked();              // 按钮2 "添加"
void OnModifyClicked();           // 按钮3 "修改"
void OnDeleteClicked();           // 按钮4 "删除"
void OnSearchClicked();           // 按钮5 "查找"
void OnStatisticsClicked();       // 按钮6 "统计"
void OnAdministratorsClicked();   // 按钮7 "管理员"
void OnPersonListRowChanged();    // 超级列表框1, current row changed

// Empties a person list view and fills it from a SELECT on [用户信息表].
void FillPersonList(const rt::ControlRef& list, const rt::Text& statement);

}  // namespace persons
