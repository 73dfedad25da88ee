// Window and control definitions as data, and the program image that the
// launcher hands to the runtime library. The definitions themselves are in ui/.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rt {

class Runtime;

enum class WindowId : uint8_t { None = 0, Main, Login, Stats, Admin };

enum class ControlKind : uint8_t {
  Button,        // 按钮
  Label,         // 标签
  Edit,          // 编辑框
  Combo,         // 组合框
  DateBox,       // 日期框
  CheckBox,      // 选择框
  PictureBox,    // 图片框
  GroupBox,      // 分组框
  ListView,      // 超级列表框
  CommonDialog,  // 通用对话框 (non-visual)
  Database,      // 外部数据库 (non-visual)
};

// Edit box settings.
constexpr uint32_t kEditMultiLine = 1u << 0;  // multi-line with a vertical scroll bar
constexpr uint32_t kEditPassword = 1u << 1;   // one "*" per character

// Button settings.
constexpr uint32_t kButtonDefault = 1u << 0;  // the Enter key presses it

using Handler = void (*)();

struct ColumnDef {
  const char* caption;  // GBK
  int width;
};

struct ControlDef {
  const char* name;    // GBK, unique within the window
  ControlKind kind;
  const char* parent;  // nullptr: the window; else the name of a group box
  int left, top, width, height;  // relative to the parent's client area
  const char* caption;           // caption or start text (GBK), may be nullptr
  uint32_t flags;                // kind-specific settings (kEdit*, kButton*)
  const char* const* items;      // combo box items, nullptr-terminated
  const ColumnDef* columns;      // list view columns
  int column_count;
  Handler on_click;              // buttons
  Handler on_current_row_changed;  // list views
};

struct WindowDef {
  WindowId id;
  const char* title;  // GBK
  int left, top, width, height;  // outer size, frame and title bar included
  const ControlDef* controls;
  int control_count;
  Handler on_created;
  Handler on_close_request;  // the request is always granted
  Handler on_destroy;
};

// What the runtime library receives from the launcher.
constexpr uint32_t kImageMagic = 0x474D5355;  // "USMG"
constexpr uint32_t kImageVersion = 1;

struct ProgramImage {
  uint32_t magic;
  uint32_t version;
  const WindowDef* windows;
  int window_count;
  WindowId startup_window;
  void (*entry)();                        // the program's entry routine
  void (*set_runtime)(Runtime* runtime);  // called before entry
};

const WindowDef* FindWindowDef(const ProgramImage& image, WindowId id);
const ControlDef* FindControlDef(const WindowDef& window, const char* name);

}  // namespace rt
