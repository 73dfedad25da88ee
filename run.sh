#!/usr/bin/env bash
# Builds the program and starts it under Wine, with a demo access.mdb beside
# it the first time. Uses $DISPLAY when set, else a virtual display.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/setup.sh

# The 32-bit program is the deliverable; where this machine cannot run
# 32-bit code, the 64-bit build of the same sources runs instead.
if bash scripts/can-run-32.sh; then preset=win32; else preset=win64; fi
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
