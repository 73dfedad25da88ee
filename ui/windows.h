// The program's four windows as data: every control with its kind, parent,
// geometry, caption or start value, settings and event binding.
#pragma once

#include "runtime/windef.h"

namespace ui {

// Main window "用户管理" first (the startup window), then "用户登录", "统计"
// and "管理员".
const rt::WindowDef* Windows();
int WindowCount();

// Windows builds give each control the identifier kFirstControlId plus its
// index in its window's control list, so tools outside the process can find a
// control by its window and name.
constexpr int kFirstControlId = 1001;

}  // namespace ui
