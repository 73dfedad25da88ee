#!/bin/bash
# Runs a Windows program under Wine with the project's own prefix, on a
# private X display and with a time limit, so that no test can hang.
#
#   tests/wine/run.sh PROGRAM.exe [ARGS...]
#
# The prefix lives in build/wine-prefix (USERMGR_WINEPREFIX overrides it). It
# is made on first use with Chinese fonts mapped and a virtual desktop, so
# windows get their frames and title bars. Runs in one prefix are serialised
# with a lock; after each run the prefix's leftover processes are ended.
#
# Where this machine has no 32-bit Wine, 32-bit programs (PE32) run in the
# i386 root of scripts/i386-root.sh with the prefix build/wine-prefix-i386
# (USERMGR_WINEPREFIX_I386); without a root they exit with 77.
#
# Environment: USERMGR_WINE_TIMEOUT (seconds, default 300; 0: none),
# USERMGR_WINE_DISPLAY=1 to use the current $DISPLAY instead of Xvfb.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
prefix=${USERMGR_WINEPREFIX:-$root/build/wine-prefix}
limit=${USERMGR_WINE_TIMEOUT:-300}

if [ $# -lt 1 ]; then
  echo "usage: $0 PROGRAM.exe [ARGS...]" >&2
  exit 2
fi
prog=$1
shift
if [ ! -f "$prog" ]; then
  echo "run.sh: no such program: $prog" >&2
  exit 2
fi

# PE32 (0x10b) or PE32+ (0x20b): the optional header's magic.
pe_magic() {
  local off
  off=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$off" ] || return 1
  od -An -t x2 -j $((off + 24)) -N 2 "$1" 2>/dev/null | tr -d ' '
}

magic=$(pe_magic "$prog")
case "$magic" in
  020b)
    loader=/usr/lib/wine/wine64
    ;;
  010b)
    loader=/usr/lib/wine/wine
    if [ -n "${USERMGR_I386_SESSION:-}" ] || [ ! -x "$loader" ] || ! "$loader" --version >/dev/null 2>&1; then
      # No 32-bit Wine on this machine (no wine32, or a kernel that does not
      # run 32-bit code): the 32-bit Wine of the i386 root runs it, with a
      # prefix of its own (scripts/i386-root.sh; 77 when there is no root).
      if [ -z "${USERMGR_I386_SESSION:-}" ]; then
        exec bash "$root/scripts/i386-root.sh" run bash "$here/run.sh" "$prog" "$@"
      fi
      loader=$here/i386/wine
      i386_server=$here/i386/wineserver
      prefix=${USERMGR_WINEPREFIX_I386:-$root/build/wine-prefix-i386}
    fi
    ;;
  *)
    echo "run.sh: $prog is not a Windows program (no PE header)" >&2
    exit 2
    ;;
esac
if [ ! -x "$loader" ]; then
  echo "run.sh: Wine is not installed ($loader missing)" >&2
  exit 2
fi

export WINEPREFIX=$prefix
export WINELOADER=$loader
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver
server=${i386_server:-$server}
export WINESERVER=$server

mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
if ! flock -w $((limit + 60)) 9; then
  echo "run.sh: the Wine prefix $prefix stays locked by another run" >&2
  exit 2
fi

# Display: one private Xvfb per run.
xvfb_pid=
cleanup() {
  "$server" -k >/dev/null 2>&1
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
}
trap cleanup EXIT
if [ "${USERMGR_WINE_DISPLAY:-0}" != 1 ] || [ -z "${DISPLAY:-}" ]; then
  if ! command -v Xvfb >/dev/null; then
    echo "run.sh: Xvfb is not installed" >&2
    exit 2
  fi
  for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 9>&- &
    xvfb_pid=$!
    for _ in $(seq 1 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$xvfb_pid" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
      export DISPLAY=":$n"
      break
    fi
    xvfb_pid=
  done
  if [ -z "$xvfb_pid" ]; then
    echo "run.sh: could not start Xvfb" >&2
    exit 2
  fi
fi

# First use: create the prefix, map the dialog fonts to one with Chinese
# glyphs, and give every program a virtual desktop (frames and title bars
# drawn even without a window manager).
# The stamp names the set-up's version: a newer one is applied to old prefixes.
setup_version=9
if [ "$(cat "$prefix/.usermgr-ready" 2>/dev/null)" != "$setup_version" ]; then
  echo "run.sh: setting up the Wine prefix $prefix (once, about 20 s)" >&2
  timeout 300 "$loader" wineboot -i >/dev/null 2>&1 9>&-
  # Wine's own fonts (Debian's fonts-wine): Marlett draws the caption buttons,
  # Tahoma the captions and dialogs. This Wine does not look for them where
  # the package puts them, so the prefix gets copies in its fonts folder.
  wine_fonts=/usr/share/wine/fonts
  if [ -d "$wine_fonts" ]; then
    mkdir -p "$prefix/drive_c/windows/Fonts"
    cp -f "$wine_fonts"/*.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null
  else
    echo "run.sh: $wine_fonts is missing (package fonts-wine): caption buttons show as letters" >&2
  fi
  # Dialog texts use Tahoma linked to a font with Chinese glyphs for the
  # characters Tahoma lacks. WenQuanYi Micro Hei keeps every stroke at 12 px
  # (Zen Hei's small sizes lose some); Zen Hei stays as the fallback.
  cjk_face="WenQuanYi Micro Hei"
  links=("wqy-microhei.ttc,WenQuanYi Micro Hei" "wqy-zenhei.ttc,WenQuanYi Zen Hei")
  if ! fc-list 2>/dev/null | grep -q 'WenQuanYi Micro Hei'; then
    cjk_face="WenQuanYi Zen Hei"
    links=("wqy-zenhei.ttc,WenQuanYi Zen Hei")
  fi
  # REG_MULTI_SZ in a REGEDIT4 file: each text's bytes in hex and a NUL, then a NUL.
  link=$(printf '%s\0' "${links[@]}" | od -An -tx1 -v | tr -s ' \n' ' ' |
    sed -E 's/^ //; s/ $//; s/ /,/g; s/$/,00/')
  reg=$(mktemp --suffix=.reg)
  {
    printf 'REGEDIT4\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
    for f in "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "Segoe UI" "MS Sans Serif"; do
      printf '"%s"="Tahoma"\r\n' "$f"
    done
    printf '"SimSun"="%s"\r\n"NSimSun"="%s"\r\n' "$cjk_face" "$cjk_face"
    printf '"Tahoma"=-\r\n'  # left by earlier set-ups
    printf '\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
    for f in "Tahoma" "Tahoma Bold" "Microsoft Sans Serif" "Segoe UI"; do
      printf '"%s"=hex(7):%s\r\n' "$f" "$link"
    done
    printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n"Desktop"="Default"\r\n'
    printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\r\n"Default"="1024x768"\r\n'
    printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n'
    # Smoothed text: Chinese glyphs are hard to read without it.
    printf '\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"FontSmoothing"="2"\r\n'
    printf '"FontSmoothingType"=dword:00000002\r\n"FontSmoothingGamma"=dword:00000578\r\n'
    printf '"FontSmoothingOrientation"=dword:00000001\r\n'
  } >"$reg"
  timeout 120 "$loader" regedit "Z:${reg//\//\\}" >/dev/null 2>&1 9>&-
  rm -f "$reg"
  "$server" -w
  echo "$setup_version" >"$prefix/.usermgr-ready"
fi

# The lock stays with this script only: it ends when the script ends.
timeout --kill-after=5 "$limit" "$loader" "$prog" "$@" 9>&-
rc=$?
if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
  echo "run.sh: $prog did not end within $limit s and was stopped" >&2
fi
exit $rc
