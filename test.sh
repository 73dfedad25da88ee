#!/usr/bin/env bash
# Builds every preset and runs every test: the native tests, the same under
# the sanitizers, the fuzzers for a short bounded time, and the Windows tests
# under Wine with a virtual display. Installs what is missing first.
set -uo pipefail
cd "$(dirname "$0")"
bash scripts/setup.sh || exit 1

failed_steps=()
passed=0
failed=0

step() {  # step NAME COMMAND...
  local name=$1 t0=$SECONDS; shift
  echo "=== $name"
  if "$@"; then echo "=== $name: $((SECONDS - t0)) s"; return 0; fi
  echo "=== $name: failed after $((SECONDS - t0)) s"
  failed_steps+=("$name")
  return 1
}

# ctest's summary line counts the tests of one run.
run_ctest() {  # run_ctest PRESET [CTEST ARGS...]
  local log
  log=$(mktemp)
  ctest --preset "$@" -j2 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -n "$line" ]; then
    local total nfail
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    nfail=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
    passed=$((passed + total - nfail))
    failed=$((failed + nfail))
  elif [ $rc -ne 0 ]; then
    failed=$((failed + 1))
  fi
  rm -f "$log"
  return $rc
}

build() {  # build PRESET
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j2
}

step "build native" build native && step "test native" run_ctest native
step "build native-asan" build native-asan && step "test native-asan" run_ctest native-asan
step "build fuzz" build fuzz && step "fuzz" bash scripts/fuzz.sh 20
step "build win32" build win32 && step "check win32 binaries" bash scripts/check-win32.sh
step "build win64" build win64 && step "test win64 under wine" run_ctest win64
# The 32-bit deliverable itself: under this machine's 32-bit Wine where it
# has one; otherwise under the 32-bit Wine of an i386 root made once under
# build/i386 (scripts/i386-root.sh), emulated by qemu-i386 where the kernel
# cannot run 32-bit code (the whole win32 run then takes about 6 minutes).
if bash scripts/can-run-32.sh && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  step "test win32 under wine" run_ctest win32
else
  if bash scripts/can-run-32.sh; then
    echo "=== no 32-bit Wine on this machine: the win32 tests run in an i386 root"
  else
    echo "=== the kernel does not run 32-bit code: the win32 tests run in an i386 root under qemu-i386"
  fi
  step "i386 root" bash scripts/i386-root.sh setup &&
    step "test win32 in the i386 root" run_ctest win32
fi

echo
if [ ${#failed_steps[@]} -gt 0 ]; then
  echo "failed steps: ${failed_steps[*]}"
  [ $failed -eq 0 ] && failed=${#failed_steps[@]}
fi
echo "summary: $passed passed, $failed failed"
[ ${#failed_steps[@]} -eq 0 ] && [ $failed -eq 0 ]
