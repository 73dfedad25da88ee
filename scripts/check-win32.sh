#!/usr/bin/env bash
# The 32-bit deliverables: present, 32-bit PE, statically linked runtime,
# and the runtime library exporting its entry function by its plain name.
set -euo pipefail
dir=build/win32
objdump=i686-w64-mingw32-objdump
status=0
for f in usermgr.exe vorta.vlr usermgr-db.exe; do
  if [ ! -f "$dir/$f" ]; then echo "missing: $dir/$f"; status=1; continue; fi
  fmt=$($objdump -f "$dir/$f" | sed -n 's/.*file format //p')
  if [ "$fmt" != "pei-i386" ]; then echo "$f: format $fmt, expected pei-i386"; status=1; fi
  imports=$($objdump -p "$dir/$f")  # whole output first: grep -q would cut the pipe
  if grep -iE 'DLL Name: (libgcc|libstdc|libwinpthread)' <<<"$imports"; then
    echo "$f: depends on a toolchain DLL"; status=1
  fi
done
if [ -f "$dir/vorta.vlr" ] && ! grep -qE '\] GetNewSock$' <<<"$($objdump -p "$dir/vorta.vlr")"; then
  echo "vorta.vlr: no export named GetNewSock"; status=1
fi
[ $status = 0 ] && echo "win32 binaries: ok"
exit $status
