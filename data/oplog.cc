#include "data/oplog.h"

#include "app/globals.h"
#include "runtime/runtime.h"

namespace data {

const char kEventLogin[] = "用户登录";
const char kEventAdd[] = "添加人员";
const char kEventModify[] = "修改人员";
const char kEventDelete[] = "删除人员";
const char kEventStatistics[] = "统计人员";

rt::Text LogStatement(const char* event) {
  rt::Text sql = "insert into [操作日志] ([用户ID],[操作时间],[事件说明]) values (";
  sql += app::CurrentUserId;
  sql += ",now(),'";
  sql += event;  // fixed texts without apostrophes
  sql += "')";
  return sql;
}

bool WriteLogRow(const char* event) {
  rt::Text sql = LogStatement(event);
  if (!rt::ExecuteSql(app::Database, sql)) {
    rt::ShowMessage("数据添加失败！", rt::kIconError);
    return false;
  }
  return true;
}

}  // namespace data
