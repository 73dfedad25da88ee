#!/usr/bin/env bash
# Runs full_run.txt against the real program under Wine, then checks the
# database it left: it checks clean, holds exactly the expected persons and
# log rows, and mdbtools reads it.
#   e2e.sh BINARY_DIR SOURCE_DIR
set -uo pipefail
bin=$1 src=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$bin/gui-work/e2e
db=$work/app/access.mdb

bash "$src/tests/wine/run.sh" "$bin/usermgr-auto.exe" -D "BIN=$bin" -D "WORK=$work" \
  -D "SHOTS=$bin/screenshots" -D "SRC=$src" "$here/full_run.txt"
rc=$?
[ $rc -eq 0 ] || exit $rc

fail=0
tool() { bash "$src/tests/wine/run.sh" "$bin/usermgr-db.exe" "$@" | tr -d '\r'; }
expect() {  # expect WHAT EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    printf 'e2e: %s differs\n--- expected\n%s\n--- actual\n%s\n' "$1" "$2" "$3"
    fail=1
  fi
}

tool check "$db" || { echo "e2e: the file does not check clean"; fail=1; }

expect "persons" '"姓名","性别","出生日期","个人简介","添加者"
"王小明",true,1985-06-15,"喜欢读书和旅行","张三"' \
  "$(tool query "$db" "select [姓名],[性别],[出生日期],[个人简介],[添加者] from [用户信息表]")"

photo=$(tool query "$db" "select [照片] from [用户信息表]" --hex | sed -n 2p | tr -d '"' | tr 'A-F' 'a-f')
want=$(od -An -v -tx1 "$src/tests/gui/data/photo.png" | tr -d ' \n')
expect "photo bytes" "$want" "$photo"

expect "log rows" '"用户ID","事件说明"
1,"用户登录"
1,"添加人员"
1,"添加人员"
1,"修改人员"
1,"删除人员"
1,"统计人员"' "$(tool query "$db" "select [用户ID],[事件说明] from [操作日志]")"

expect "accounts" '"ID","用户名","密码"
1,"张三","580274"' "$(tool query "$db" "select * from [用户表]")"

# An independent reader sees the same rows.
if command -v mdb-export >/dev/null; then
  n=$(mdb-export "$db" 操作日志 | tail -n +2 | wc -l)
  expect "log rows seen by mdb-export" 6 "$n"
  mdb-export "$db" 用户信息表 | grep -q 王小明 || { echo "e2e: mdb-export does not show the person"; fail=1; }
else
  echo "e2e: mdb-export is missing"; fail=1
fi
[ $fail -eq 0 ] && echo "e2e: database as expected"
exit $fail
