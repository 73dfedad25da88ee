#!/usr/bin/env bash
# Builds the program and starts it under Wine, with a demo access.mdb beside
# it the first time. Uses $DISPLAY when set, else a virtual display.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/setup.sh

# The 32-bit program is the deliverable. Where this machine has no 32-bit
# Wine (no wine32, or a kernel that does not run 32-bit code), the 64-bit
# build of the same sources runs instead: the 32-bit one would need the i386
# root that ./test.sh makes (and, emulated, is slow to use by hand).
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  preset=win32
else
  preset=win64
  echo "this machine has no 32-bit Wine: running the 64-bit build of the same sources (build/win64);"
  echo "./test.sh runs the 32-bit program's tests in an i386 root (scripts/i386-root.sh)"
fi
cmake --preset native >/dev/null && cmake --build --preset native -j2 --target usermgr-db
cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j2
dir=build/$preset

if [ ! -f "$dir/access.mdb" ]; then
  echo "creating a demo database: $dir/access.mdb (log in as 张三 / 580274)"
  build/native/usermgr-db demo "$dir/access.mdb"
fi

if [ -n "${DISPLAY:-}" ]; then
  export USERMGR_WINE_DISPLAY=1
else
  echo "no DISPLAY: the program runs on a virtual display (Xvfb)"
fi
USERMGR_WINE_TIMEOUT=0 exec bash tests/wine/run.sh "$dir/usermgr.exe"
