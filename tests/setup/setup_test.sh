#!/usr/bin/env bash
# The set-up's decisions, with apt-get, dpkg, dpkg-query, npm and id replaced
# by fakes on PATH that keep a list of installed packages and log each call.
#   setup_test.sh   (exit 0: every case as expected)
set -u
src=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fails=0

# The fakes. State in $FAKE: installed (one package a line), archs,
# uninstallable (never installable), update_fails (how many updates fail),
# calls (the log).
mkdir -p "$tmp/bin"
cat >"$tmp/bin/apt-get" <<'EOF'
#!/bin/bash
echo "apt-get $*" >>"$FAKE/calls"
case " $* " in
  *" update "*)
    n=$(cat "$FAKE/update_fails")
    [ "$n" -gt 0 ] && { echo $((n - 1)) >"$FAKE/update_fails"; echo "E: Some index files failed to download"; exit 100; }
    exit 0 ;;
  *" install "*)
    for p in "$@"; do
      case $p in -*|install) continue ;; esac
      grep -qxF "$p" "$FAKE/uninstallable" && { echo "E: Unable to locate package $p"; exit 100; }
    done
    for p in "$@"; do
      case $p in -*|install) continue ;; esac
      echo "$p" >>"$FAKE/installed"
    done
    exit 0 ;;
esac
exit 0
EOF
cat >"$tmp/bin/dpkg-query" <<'EOF'
#!/bin/bash
grep -qxF "${@: -1}" "$FAKE/installed" || exit 1
printf 'install ok installed'
EOF
cat >"$tmp/bin/dpkg" <<'EOF'
#!/bin/bash
echo "dpkg $*" >>"$FAKE/calls"
case $1 in
  --print-foreign-architectures) cat "$FAKE/archs" ;;
  --add-architecture) echo "$2" >>"$FAKE/archs" ;;
  --remove-architecture) grep -vxF "$2" "$FAKE/archs" >"$FAKE/archs.new"; mv "$FAKE/archs.new" "$FAKE/archs" ;;
esac
EOF
printf '#!/bin/bash\necho "npm $*" >>"$FAKE/calls"\n' >"$tmp/bin/npm"
printf '#!/bin/bash\nexit 0\n' >"$tmp/bin/node"
printf '#!/bin/bash\nexit 0\n' >"$tmp/bin/sleep"
printf '#!/bin/bash\necho "${FAKE_UID:-0}"\n' >"$tmp/bin/id"
chmod +x "$tmp/bin"/*

all=$(sed -n '/^required=(/,/)/p' "$src/scripts/setup.sh" | tr -d '()' | sed 's/required=//' | tr -s ' \n' '\n' | grep .)

# run NAME CAN_RUN_32 UPDATE_FAILS UNINSTALLABLE INSTALLED... : runs setup.sh
# in a fresh fake machine; its status in $rc, its messages in $out.
run() {
  name=$1 can=$2
  export FAKE=$tmp/$name
  mkdir -p "$FAKE"
  echo "$3" >"$FAKE/update_fails"
  tr ' ' '\n' <<<"$4" >"$FAKE/uninstallable"
  shift 4
  printf '%s\n' "$@" >"$FAKE/installed"
  : >"$FAKE/archs" >"$FAKE/calls"
  out=$(PATH=$tmp/bin:$PATH USERMGR_CAN_RUN_32=$can bash "$src/scripts/setup.sh" 2>&1)
  rc=$?
}
check() {  # check WHAT CONDITION...
  local what=$1; shift
  if ! "$@"; then
    echo "FAIL [$name] $what"
    echo "  output: $out" | head -n 8
    sed 's/^/  call: /' "$FAKE/calls" | grep -v npm
    fails=$((fails + 1))
  fi
}
called() { grep -qE "$1" "$FAKE/calls"; }
installed() { grep -qxF "$1" "$FAKE/installed"; }
count() { grep -cE "$1" "$FAKE/calls"; }

# Nothing missing: no package command runs.
run complete no 0 "" $all
check "exit 0" test $rc = 0
check "no apt-get" eval '! called "^apt-get"'

# The index update fails once: retried, then everything installs.
run update-once yes 1 ""
check "exit 0" test $rc = 0
check "update retried" test "$(count '^apt-get update')" = 2
check "needed packages installed" installed cmake
check "wine32 installed" installed wine32:i386
check "i386 kept" grep -qx i386 "$FAKE/archs"

# It fails twice: the set-up goes on with what it got.
run update-twice no 2 ""
check "exit 0" test $rc = 0
check "says it goes on" grep -q "failed again" <<<"$out"
check "needed packages installed" installed xvfb

# A needed package cannot be had: named, exit 1, the others installed.
run missing no 0 "mdbtools"
check "exit 1" test $rc = 1
check "names the package" grep -q "cannot install needed packages: mdbtools" <<<"$out"
check "the others installed" installed wine64

# The kernel cannot run 32-bit code: nothing of i386 is asked for.
run no-32 no 0 ""
check "exit 0" test $rc = 0
check "no wine32:i386" eval '! called "wine32"'
check "no i386 architecture" eval '! called "add-architecture"'

# 32-bit Wine cannot be had (a half-synced i386 index): the architecture
# added for it is removed again, and the set-up succeeds.
run no-wine32 yes 0 "wine32:i386"
check "exit 0" test $rc = 0
check "tried wine32" called "install .*wine32:i386"
check "i386 removed again" called "remove-architecture i386"
check "i386 gone" eval '! grep -qx i386 "$FAKE/archs"'
check "says the root takes over" grep -q "run in an i386 root" <<<"$out"

# Not root, only 32-bit Wine missing: nothing to install, not an error.
FAKE_UID=1000 run user yes 0 "" $all
check "exit 0" test $rc = 0
check "no apt-get" eval '! called "^apt-get"'
FAKE_UID=1000 run user-missing no 0 ""
check "exit 1 when needed ones are missing" test $rc = 1

[ $fails = 0 ] && echo "setup decisions: all as expected"
exit $((fails > 0))
