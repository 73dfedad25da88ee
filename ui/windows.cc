#include "ui/windows.h"

#include "accounts/handlers.h"
#include "persons/handlers.h"

namespace ui {

namespace {

using rt::ColumnDef;
using rt::ControlDef;
using rt::ControlKind;
using rt::WindowDef;
using rt::WindowId;

constexpr const char* kGroup = "分组框1";
const char* const kSexItems[] = {"男", "女", nullptr};

const ColumnDef kPersonColumns[] = {
    {"姓名", 50},
    {"性别", 50},
    {"出生日期", 120},
    {"个人简介", 150},
};

const ColumnDef kAccountColumns[] = {
    {"用户名", 50},
    {"密码", 50},
};

constexpr int kPersonColumnCount = sizeof(kPersonColumns) / sizeof(kPersonColumns[0]);
constexpr int kAccountColumnCount = sizeof(kAccountColumns) / sizeof(kAccountColumns[0]);

// Shorthands that keep the tables one control per line.
constexpr ControlDef Plain(const char* name, ControlKind kind, const char* parent, int l, int t,
                           int w, int h, const char* caption, uint32_t flags = 0) {
  return ControlDef{name, kind, parent, l, t, w, h, caption, flags, nullptr, nullptr, 0, nullptr, nullptr};
}
constexpr ControlDef Button(const char* name, const char* parent, int l, int t, int w, int h,
                            const char* caption, rt::Handler on_click, uint32_t flags = 0) {
  return ControlDef{name, ControlKind::Button, parent, l, t, w, h, caption, flags, nullptr, nullptr, 0,
                    on_click, nullptr};
}
constexpr ControlDef List(const char* name, int l, int t, int w, int h, const ColumnDef* columns,
                          int column_count, rt::Handler on_row_changed) {
  return ControlDef{name, ControlKind::ListView, nullptr, l, t, w, h, nullptr, 0, nullptr, columns,
                    column_count, nullptr, on_row_changed};
}

const ControlDef kMainControls[] = {
    Plain("分组框1", ControlKind::GroupBox, nullptr, 8, 8, 536, 200, "用户信息"),
    Plain("标签1", ControlKind::Label, kGroup, 8, 16, 56, 24, "姓名"),
    Plain("编辑框_姓名", ControlKind::Edit, kGroup, 72, 16, 88, 24, nullptr),
    Plain("标签2", ControlKind::Label, kGroup, 168, 16, 56, 24, "性别"),
    ControlDef{"组合框_性别", ControlKind::Combo, kGroup, 208, 16, 64, 24, nullptr, 0, kSexItems,
               nullptr, 0, nullptr, nullptr},
    Plain("标签3", ControlKind::Label, kGroup, 296, 16, 64, 24, "出生日期"),
    Plain("日期框_出生日期", ControlKind::DateBox, kGroup, 384, 16, 144, 24, nullptr),
    Plain("标签4", ControlKind::Label, kGroup, 8, 48, 56, 24, "个人简介"),
    Plain("编辑框_个人简介", ControlKind::Edit, kGroup, 72, 48, 208, 120, nullptr, rt::kEditMultiLine),
    Plain("图片框1", ControlKind::PictureBox, kGroup, 304, 48, 128, 120, nullptr),
    Button("按钮1", kGroup, 448, 48, 64, 24, "选择照片", persons::OnChoosePhotoClicked),
    Button("按钮7", kGroup, 208, 168, 64, 24, "管理员", persons::OnAdministratorsClicked),
    Button("按钮2", kGroup, 296, 168, 64, 24, "添加", persons::OnAddClicked),
    Button("按钮3", kGroup, 376, 168, 64, 24, "修改", persons::OnModifyClicked),
    Button("按钮4", kGroup, 456, 168, 64, 24, "删除", persons::OnDeleteClicked),
    Plain("标签5", ControlKind::Label, nullptr, 16, 216, 40, 24, "姓名"),
    Plain("编辑框_关键字", ControlKind::Edit, nullptr, 64, 216, 264, 24, nullptr),
    Button("按钮5", nullptr, 336, 216, 64, 24, "查找", persons::OnSearchClicked),
    Plain("选择框1", ControlKind::CheckBox, nullptr, 408, 216, 88, 24, "模糊查找"),
    Button("按钮6", nullptr, 496, 216, 48, 24, "统计", persons::OnStatisticsClicked),
    List("超级列表框1", 8, 248, 536, 128, kPersonColumns, kPersonColumnCount,
         persons::OnPersonListRowChanged),
    Plain("通用对话框1", ControlKind::CommonDialog, kGroup, 0, 0, 0, 0, nullptr),
    Plain("外部数据库1", ControlKind::Database, nullptr, 0, 0, 0, 0, nullptr),
};

const ControlDef kLoginControls[] = {
    Plain("标签1", ControlKind::Label, nullptr, 48, 32, 56, 24, "用户名"),
    Plain("编辑框_用户名", ControlKind::Edit, nullptr, 112, 32, 112, 24, "张三"),
    Plain("标签2", ControlKind::Label, nullptr, 48, 80, 56, 24, "密码"),
    Plain("编辑框_密码", ControlKind::Edit, nullptr, 112, 80, 112, 24, "580274", rt::kEditPassword),
    Button("按钮1", nullptr, 80, 120, 56, 24, "登录", accounts::OnLoginClicked, rt::kButtonDefault),
    Button("按钮2", nullptr, 184, 120, 56, 24, "取消", accounts::OnCancelClicked),
};

const ControlDef kStatsControls[] = {
    Plain("标签3", ControlKind::Label, nullptr, 8, 8, 80, 24, "出生日期介于"),
    Plain("日期框_出生日期", ControlKind::DateBox, nullptr, 96, 8, 144, 24, nullptr),
    Plain("标签1", ControlKind::Label, nullptr, 248, 8, 16, 24, "到"),
    Plain("日期框_出生日期1", ControlKind::DateBox, nullptr, 272, 8, 144, 24, nullptr),
    Button("按钮1", nullptr, 432, 8, 64, 24, "统计", accounts::OnStatisticQueryClicked),
    List("超级列表框1", 8, 48, 552, 272, kPersonColumns, kPersonColumnCount, nullptr),
};

const ControlDef kAdminControls[] = {
    List("超级列表框1", 16, 8, 344, 128, kAccountColumns, kAccountColumnCount, nullptr),
    Button("按钮4", nullptr, 296, 144, 64, 24, "删除", accounts::OnDeleteAccountClicked),
};

template <size_t N>
constexpr int Count(const ControlDef (&)[N]) {
  return static_cast<int>(N);
}

// All four windows open at the same stored position, 50, 50.
const WindowDef kWindows[] = {
    {WindowId::Main, "用户管理", 50, 50, 560, 421, kMainControls, Count(kMainControls),
     persons::OnMainWindowCreated, persons::OnMainWindowCloseRequest, persons::OnMainWindowDestroy},
    {WindowId::Login, "用户登录", 50, 50, 311, 192, kLoginControls, Count(kLoginControls), nullptr,
     nullptr, nullptr},
    {WindowId::Stats, "统计", 50, 50, 573, 361, kStatsControls, Count(kStatsControls), nullptr, nullptr,
     nullptr},
    {WindowId::Admin, "管理员", 50, 50, 387, 214, kAdminControls, Count(kAdminControls),
     accounts::OnAdministratorsWindowCreated, nullptr, nullptr},
};

}  // namespace

const rt::WindowDef* Windows() { return kWindows; }
int WindowCount() { return static_cast<int>(sizeof(kWindows) / sizeof(kWindows[0])); }

}  // namespace ui
