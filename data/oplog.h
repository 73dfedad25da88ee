// The operation log: one row in [操作日志] per significant action.
#pragma once

#include "runtime/value.h"

namespace data {

// Event texts of the log rows.
extern const char kEventLogin[];       // "用户登录"
extern const char kEventAdd[];         // "添加人员"
extern const char kEventModify[];      // "修改人员"
extern const char kEventDelete[];      // "删除人员"
extern const char kEventStatistics[];  // "统计人员"

// The insert for one log row of the current operator (CurrentUserId, bare).
rt::Text LogStatement(const char* event);

// Writes the row on Database. On failure shows "数据添加失败！" (error icon)
// and returns false: the caller's workflow ends there.
bool WriteLogRow(const char* event);

}  // namespace data
