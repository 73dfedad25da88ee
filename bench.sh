#!/usr/bin/env bash
# Benchmarks of the engine, the companion's exports, the database unit and
# the program on a generated database of 100,000 persons and on files we did
# not write (a register another engine wrote, the largest real-world file),
# against mdbtools and mdb-reader. Not a test: it decides nothing and
# ./test.sh never runs it. Usage: ./bench.sh [--help]
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD

REPS=5            # runs of each read case; medians are printed
WRITES=10000      # inserts, then as many updates and deletes
PERSONS=100000
SMALL=10000       # the second database, for the scan's memory
PHOTO_EVERY=100   # one person in a hundred has a photo
PHOTO_KB=50
SHARE_SECONDS=60  # a reader walks a record set this long while 1,000 rows go in
SHARE_INSERTS=1000
BUILD=${BENCH_BUILD_DIR:-$ROOT/build/bench}
OUT=${BENCH_OUT_DIR:-$ROOT/bench/out}
PASSWORD=580274

usage() {
  cat <<USAGE
usage: ./bench.sh [--reps N] [--writes N] [--persons N] [--share-seconds S] [--skip-writes] [--only-exports] [--wine]
  --reps N      runs of each read case (default $REPS)
  --writes N    durable inserts, updates and deletes (default $WRITES)
  --share-seconds S  how long the reader of the sharing case walks its record set
                (default $SHARE_SECONDS; $SHARE_INSERTS inserts meanwhile)
  --persons N   persons in the big database (default $PERSONS)
  --skip-writes leave out the write cases
  --only-exports only the whole-process cases (a): the full scan and the
                exports of every file, against mdb-export and the floors
  --wine        also time the program under Wine with the automation driver
                (64-bit build: \$BENCH_WIN64_DIR with usermgr.exe, vorta.vlr and
                usermgr-auto.exe, or built into build/bench-win64)
Builds in \$BENCH_BUILD_DIR (default build/bench), keeps the generated
databases, copies of the shared fixtures (\$BENCH_FIXTURES_DIR, default
../shared/fixtures) and the last report in \$BENCH_OUT_DIR (default bench/out).
USAGE
}
SKIP_WRITES=0
ONLY_EXPORTS=0
WINE=0
while [ $# -gt 0 ]; do
  case $1 in
    --reps) REPS=$2; shift 2 ;;
    --writes) WRITES=$2; shift 2 ;;
    --persons) PERSONS=$2; shift 2 ;;
    --share-seconds) SHARE_SECONDS=$2; shift 2 ;;
    --skip-writes) SKIP_WRITES=1; shift ;;
    --only-exports) ONLY_EXPORTS=1; SKIP_WRITES=1; shift ;;
    --wine) WINE=1; shift ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done

say() { printf '%s\n' "$*" >&2; }
mkdir -p "$OUT"
REPORT=$OUT/report.txt

# ---- build and tools -------------------------------------------------------
say "building the benchmark programs in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j2 --target usermgr-bench usermgr-bench-gen usermgr-bench-time usermgr-bench-noop usermgr-db >/dev/null
BENCH=$BUILD/usermgr-bench
TIMER=$BUILD/usermgr-bench-time
NOOP=$BUILD/usermgr-bench-noop
GEN=$BUILD/usermgr-bench-gen
DB_TOOL=$BUILD/usermgr-db
MODULES=$ROOT/tests/node/node_modules
if [ ! -f "$MODULES/mdb-reader/package.json" ]; then
  say "installing mdb-reader under tests/node"
  npm install --no-save --no-package-lock --prefix "$ROOT/tests/node" mdb-reader >/dev/null
fi
for tool in mdb-export mdb-tables node; do
  command -v $tool >/dev/null || { say "$tool is missing (./test.sh installs it)"; exit 1; }
done

# ---- databases ---------------------------------------------------------------
BIG=$OUT/persons-$PERSONS.mdb
SMALLDB=$OUT/persons-$SMALL.mdb
# A database is kept between runs and made again when the generator's
# sources or parameters change (generating 100,000 persons takes a while).
make_db() {  # FILE PERSONS
  local stamp
  stamp="$(cat bench/person_data.cc bench/gen_persons.cc | sha1sum | cut -c1-16) $2 $PHOTO_EVERY $PHOTO_KB"
  if [ ! -f "$1" ] || [ "$(cat "$1.stamp" 2>/dev/null)" != "$stamp" ]; then
    rm -f "$1" "$1.tmp" "$1.stamp"
    say "generating $1 (once; kept for later runs)"
    "$GEN" "$1.tmp" --persons "$2" --photo-every $PHOTO_EVERY --photo-kb $PHOTO_KB --password $PASSWORD >&2
    mv "$1.tmp" "$1"
    echo "$stamp" > "$1.stamp"
  fi
}
make_db "$BIG" "$PERSONS"
make_db "$SMALLDB" "$SMALL"

# Files we did not write, copied (the shared ones are read-only): a register
# of 100,000 persons written by another engine, and the largest real-world
# file that opens without a password. Missing ones are left out.
FIXTURES=${BENCH_FIXTURES_DIR:-$ROOT/../shared/fixtures}
copy_fixture() {  # SOURCE DEST
  [ -f "$1" ] || return 1
  if [ ! -f "$2" ] || ! cmp -s "$1" "$2"; then cp "$1" "$2"; fi
  chmod u+w "$2"
}
OTHER=$OUT/other-engine-100000.mdb
copy_fixture "$FIXTURES/bench/persons100k_other_engine.mdb" "$OTHER" || OTHER=
REAL=
for f in $(ls -S "$FIXTURES"/realworld/*.mdb 2>/dev/null); do
  case $f in *jaypabs*|*coffeeBreak*) continue ;; esac  # passwords, an encoded file
  REAL=$OUT/realworld-$(basename "$f")
  copy_fixture "$f" "$REAL" || REAL=
  break
done

# ---- helpers -----------------------------------------------------------------
median() { sort -g | awk '{v[NR]=$1} END {if (NR==0) print 0; else if (NR%2) print v[(NR+1)/2]; else print (v[NR/2]+v[NR/2+1])/2}'; }
# whole LABEL CMD...: runs CMD (stdout to /dev/null) REPS times after one
# warm-up; sets MS (median wall time), CPU (median user + system time, ms)
# and RSS_MB (median peak RSS), of CMD and every process it waited for.
# usermgr-bench-time forks and reaps CMD itself: a timer run around it
# (perf stat, time(1)) would put its own start-up, some 20 ms, into every
# wall time, which squeezes the ratios of short runs towards 1.
whole() {
  local label=$1; shift
  local r kb
  r=$("$TIMER" "$REPS" "$@") || { say "$label failed: $*"; exit 1; }
  read -r MS CPU kb <<< "$r"
  MS=$(awk -v v="$MS" 'BEGIN {printf "%.1f", v}')
  CPU=$(awk -v v="$CPU" 'BEGIN {printf "%.1f", v}')
  RSS_MB=$(awk -v v="$kb" 'BEGIN {printf "%.1f", v / 1024}')
}
# interleaved LABEL CMD... [--- CMD...]...: the same for several commands,
# run in turn round after round so that a change of load falls on all of
# them; sets the arrays MSA, CPUA and RSSA, one entry per command in order.
interleaved() {
  local label=$1; shift
  local out w c k
  out=$("$TIMER" "$REPS" "$@") || { say "$label failed"; exit 1; }
  MSA=(); CPUA=(); RSSA=()
  while read -r w c k; do
    MSA+=("$(awk -v v="$w" 'BEGIN {printf "%.1f", v}')")
    CPUA+=("$(awk -v v="$c" 'BEGIN {printf "%.1f", v}')")
    RSSA+=("$(awk -v v="$k" 'BEGIN {printf "%.1f", v / 1024}')")
  done <<< "$out"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b == 0) print "inf"; else printf "%.2f", a / b}'; }
verdict() { awk -v v="$1" -v t="$2" -v dir="$3" 'BEGIN {ok = (dir == "min") ? v >= t : v <= t; print ok ? "met" : "MISSED"}'; }
row() { printf '  %-44s %12s %s\n' "$1" "$2" "${3:-}"; }

# ---- the run -------------------------------------------------------------------
{
echo "usermgr benchmarks — $(date -u '+%Y-%m-%d %H:%M UTC'), commit $(git rev-parse --short HEAD 2>/dev/null || echo '?')"
echo "machine: $(nproc) cores ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')), $(free -g | awk '/^Mem:/ {print $2}') GB memory, disk $(df -h "$OUT" | awk 'NR==2 {print $1 ", " $2 " total, " $4 " free"}')"
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine inflates wall times; CPU times are steadier)"
echo "database: $PERSONS persons, one in $PHOTO_EVERY with a ${PHOTO_KB} KB photo, $(du -m "$BIG" | cut -f1) MB; medians of $REPS runs"
echo

# exports MODE FILE TABLES: one process per table of TABLES (a file, one name
# a line), as a user exports a file table by table.
exports() {
  local mode=$1 file=$2 t
  while IFS= read -r t; do
    case $mode in
      hex) "$DB_TOOL" query "$file" "select * from [$t]" --hex --password $PASSWORD ;;
      counts) "$DB_TOOL" query "$file" "select * from [$t]" --password $PASSWORD ;;
      dump) "$DB_TOOL" dump "$file" "$t" --password $PASSWORD ;;
      scan) "$DB_TOOL" query "$file" "select * from [$t] where 1=0" --password $PASSWORD ;;
      export-hex) mdb-export -b hex "$file" "$t" ;;
      export-strip) mdb-export -b strip "$file" "$t" ;;
      cat) cat "$file" ;;
      noop) "$NOOP" ;;
    esac || return 1
  done < "$3"
}
export -f exports
export DB_TOOL PASSWORD NOOP
# export_case LABEL FILE TABLES: our exports against mdb-export's of the same
# content, each also against two floors: cat of the file, and starting as
# many processes that do nothing (a static empty program, as usermgr-db is
# static), which bounds the ratios of small tables.
export_case() {
  local label=$1 file=$2 tables=$3
  echo "a. Exports of $label: $(wc -l < "$tables") table(s), $(du -m "$file" | cut -f1) MB, one process per table"
  local modes=(noop cat scan export-hex export-strip hex counts dump) args=() m
  for m in "${modes[@]}"; do args+=(bash -c 'exports "$1" "$2" "$3"' _ "$m" "$file" "$tables" ---); done
  unset 'args[${#args[@]}-1]'
  interleaved "exports of $label" "${args[@]}"
  local start=${MSA[0]} floor=${MSA[1]}
  local hex_ms=${MSA[3]} hex_cpu=${CPUA[3]} strip_ms=${MSA[4]} strip_cpu=${CPUA[4]}
  floors() { echo "$(ratio "$1" "$floor")x the floor, $(ratio "$1" "$start")x the start floor"; }
  row "an empty program once per table (start floor)" "$start ms" "cpu ${CPUA[0]} ms"
  row "cat FILE > /dev/null, once per table (the floor)" "$floor ms" "cpu ${CPUA[1]} ms"
  row "usermgr-db query, WHERE matching nothing (the scan)" "${MSA[2]} ms" "cpu ${CPUA[2]} ms; $(ratio "${MSA[2]}" "$floor")x the floor (target 3: $(verdict "$(ratio "${MSA[2]}" "$floor")" 3 max))"
  row "mdb-export -b hex" "$hex_ms ms" "cpu $hex_cpu ms; $(floors "$hex_ms")"
  row "mdb-export -b strip" "$strip_ms ms" "cpu $strip_cpu ms; $(floors "$strip_ms")"
  local i what peer_ms peer_cpu peer r
  for i in 5 6 7; do
    case ${modes[$i]} in
      hex) what="query --hex (photos in hex)"; peer="-b hex"; peer_ms=$hex_ms; peer_cpu=$hex_cpu ;;
      counts) what="query (photos as byte counts)"; peer="-b strip"; peer_ms=$strip_ms; peer_cpu=$strip_cpu ;;
      dump) what="dump (photos in hex)"; peer="-b hex"; peer_ms=$hex_ms; peer_cpu=$hex_cpu ;;
    esac
    r=$(ratio "$peer_ms" "${MSA[$i]}")
    row "usermgr-db $what" "${MSA[$i]} ms" "cpu ${CPUA[$i]} ms, rss ${RSSA[$i]} MB; $(floors "${MSA[$i]}")"
    row "  against mdb-export $peer" "${r}x faster" "(cpu $(ratio "$peer_cpu" "${CPUA[$i]}")x; target 5: $(verdict "$r" 5 min))"
    # What each costs beyond starting its processes.
    row "  above the start floor" "$(awk -v p="$peer_ms" -v o="${MSA[$i]}" -v f="$start" 'BEGIN {if (o - f <= 0) print "-"; else printf "%.2fx", (p - f) / (o - f)}')" \
      "(ours $(awk -v o="${MSA[$i]}" -v f="$start" 'BEGIN {printf "%.1f", o - f}') ms, mdb-export's $(awk -v p="$peer_ms" -v f="$start" 'BEGIN {printf "%.1f", p - f}') ms)"
  done
  echo
}

echo "a. Full scan of [用户信息表], whole processes printing every row (CSV, photos in hex)"
interleaved "the full scan" cat "$BIG" --- "$BENCH" scan "$BIG" --password $PASSWORD --- \
  mdb-export -b hex "$BIG" 用户信息表 --- node "$ROOT/bench/mdb_reader_scan.mjs" "$MODULES" "$BIG" 用户信息表 $PASSWORD
CAT=${MSA[0]}; CAT_CPU=${CPUA[0]}
OURS=${MSA[1]}; OURS_RSS=${RSSA[1]}; OURS_CPU=${CPUA[1]}
EXPORT=${MSA[2]}; EXPORT_RSS=${RSSA[2]}; EXPORT_CPU=${CPUA[2]}
READER=${MSA[3]}; READER_RSS=${RSSA[3]}; READER_CPU=${CPUA[3]}
row "cat FILE > /dev/null (the floor)" "$CAT ms" "cpu $CAT_CPU ms"
row "usermgr-bench scan (record-set API)" "$OURS ms" "cpu $OURS_CPU ms; rss $OURS_RSS MB; $(ratio "$OURS" "$CAT")x the floor"
row "mdb-export" "$EXPORT ms" "cpu $EXPORT_CPU ms; rss $EXPORT_RSS MB; $(ratio "$EXPORT" "$CAT")x the floor"
row "node + mdb-reader" "$READER ms" "cpu $READER_CPU ms; rss $READER_RSS MB; $(ratio "$READER" "$CAT")x the floor"
r=$(ratio "$EXPORT" "$OURS"); c=$(ratio "$EXPORT_CPU" "$OURS_CPU")
row "speed-up over mdb-export" "${r}x" "(cpu ${c}x; target 5: $(verdict "$r" 5 min))"
r=$(ratio "$READER" "$OURS"); c=$(ratio "$READER_CPU" "$OURS_CPU")
row "speed-up over mdb-reader" "${r}x" "(cpu ${c}x; target 5: $(verdict "$r" 5 min))"
echo

echo 用户信息表 > "$OUT/.tables-persons"
export_case "our register ($PERSONS persons)" "$BIG" "$OUT/.tables-persons"
if [ -n "$OTHER" ]; then export_case "the register another engine wrote (100,000 persons)" "$OTHER" "$OUT/.tables-persons"; fi
if [ -n "$REAL" ]; then
  mdb-tables -1 "$REAL" | grep -v '^$' > "$OUT/.tables-real"
  export_case "$(basename "$REAL" .mdb | sed 's/^realworld-//'), the largest real-world file" "$REAL" "$OUT/.tables-real"
fi

if [ "$ONLY_EXPORTS" = 0 ]; then
# res FILE KEY FIELD: a field of a RESULT line (3: the figure, 4: the rows).
res() { awk -v k="$2" -v f="$3" '$1 == "RESULT" && $2 == k {print $f}' "$1"; }
# read_cases LABEL FILE RESULTS: the in-process cases on one file.
read_cases() {
  echo "b, d. In-process on $1, one open database, medians (ms); rows found"
  "$BENCH" read "$2" --reps "$REPS" --password $PASSWORD > "$3"
  local rf=$3
  local open; open=$(res "$rf" open+login 3)
  row "open with password + login lookup" "$open ms" "(target < 50 ms: $(verdict "$open" 50 max))"
  row "full scan, engine, every column" "$(res "$rf" scan.engine.all-columns 3) ms" "$(res "$rf" scan.engine.all-columns 4) rows"
  local layer base c v
  for layer in engine.list-columns unit.list-fill; do
    base=$(res "$rf" scan.$layer 3)
    row "full scan, $layer" "$base ms" "$(res "$rf" scan.$layer 4) rows"
    for c in exact fuzzy statistic; do
      v=$(res "$rf" $c.$layer 3)
      row "$c, $layer" "$v ms" "$(res "$rf" $c.$layer 4) rows; $(ratio "$v" "$base")x the scan (target 1.5: $(verdict "$(ratio "$v" "$base")" 1.5 max))"
    done
  done
  echo
}
read_cases "our register" "$BIG" "$OUT/read.txt"
if [ -n "$OTHER" ]; then read_cases "the register another engine wrote" "$OTHER" "$OUT/read-other.txt"; fi
echo "  (exact: [姓名]='王芳'; fuzzy: like '%张%'; statistic: births 1980-1989 order by [姓名] asc;"
echo "   engine.list-columns reads the five listed columns through mdb::RecordSet, unit.list-fill"
echo "   does what the person list does: the database unit, fields by name, texts in GBK)"
echo

echo "e. Peak memory (RSS) of the whole-process full scan"
whole small "$BENCH" scan "$SMALLDB" --password $PASSWORD; SMALL_RSS=$RSS_MB
row "$SMALL persons" "$SMALL_RSS MB"
row "$PERSONS persons" "$OURS_RSS MB" "(targets: < 64 MB: $(verdict "$OURS_RSS" 64 max); no larger than at $SMALL: $(verdict "$OURS_RSS" "$(awk -v s="$SMALL_RSS" 'BEGIN {print s * 1.05 + 0.5}')" max))"
echo
fi

if [ "$SKIP_WRITES" = 0 ]; then
  echo "c. $WRITES durable single statements with ${PHOTO_KB} KB photos, on a copy of the database"
  cp "$BIG" "$OUT/write.mdb"
  "$BENCH" write "$OUT/write.mdb" --count "$WRITES" --photo-kb $PHOTO_KB --password $PASSWORD > "$OUT/write.txt"
  rm -f "$OUT/write.mdb"
  wget() { awk -v k="$1" '$1 == "RESULT" && $2 == k {print $3}' "$OUT/write.txt"; }
  row "plain file, write ${PHOTO_KB} KB + fsync" "$(wget plain-file-fsync.rows-per-s) /s" "median $(wget plain-file-fsync.median-ms) ms"
  for op in insert update delete; do
    row "$op" "$(wget $op.rows-per-s) rows/s" "median $(wget $op.median-ms) ms"
  done
  r=$(wget insert-vs-plain-file)
  row "insert rate / plain-file rate" "$r" "(target 0.5: $(verdict "$r" 0.5 min))"
  echo

  echo "f. A reader walking a record set for ${SHARE_SECONDS} s in one process while another inserts $SHARE_INSERTS rows"
  cp "$BIG" "$OUT/share.mdb"
  "$BENCH" share "$OUT/share.mdb" --seconds "$SHARE_SECONDS" --count "$SHARE_INSERTS" --photo-kb $PHOTO_KB \
    --password $PASSWORD > "$OUT/share.txt"
  rm -f "$OUT/share.mdb"
  sget() { awk -v k="$1" '$1 == "RESULT" && $2 == k {print $3}' "$OUT/share.txt"; }
  row "the reader's walk" "$(sget share.reader-seconds) s" "one state all along: $( [ "$(sget share.reader-saw-one-state)" = 1 ] && echo yes || echo NO)"
  row "inserts meanwhile, median" "$(sget share.insert-median-ms) ms"
  row "inserts meanwhile, longest" "$(sget share.insert-max-ms) ms" "(target < 1000 ms: $(verdict "$(sget share.insert-max-ms)" 1000 max))"
  row "inserts that failed" "$(sget share.insert-failures)" "(target 0: $(verdict "$(sget share.insert-failures)" 0 max))"
fi

if [ "$SKIP_WRITES" = 0 ]; then
  KEYS=2000
  echo "g. Text index keys: $KEYS persons into new files without and with an index on [姓名] (General)"
  "$BENCH" keys "$OUT" --count $KEYS --password $PASSWORD > "$OUT/keys.txt"
  kget() { awk -v k="$1" '$1 == "RESULT" && $2 == k {print $3}' "$OUT/keys.txt"; }
  row "making a name's key alone" "$(kget keys.encode-ns-per-name) ns" "$(kget keys.bytes-per-name) bytes a key"
  for f in plain name-indexed; do
    row "durable inserts, $f" "$(kget keys.insert-$f.rows-per-s) rows/s" "median $(kget keys.insert-$f.median-ms) ms"
    row "inserts in one transaction, $f" "$(kget keys.batch-insert-$f.rows-per-s) rows/s" "median $(kget keys.batch-insert-$f.median-ms) ms"
  done
fi

if [ "$WINE" = 1 ] && [ "$ONLY_EXPORTS" = 0 ]; then
  WIN=${BENCH_WIN64_DIR:-}
  if [ -z "$WIN" ]; then
    WIN=$ROOT/build/bench-win64
    say "building the 64-bit Windows program and driver in $WIN"
    cmake -S "$ROOT" -B "$WIN" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" >/dev/null
    cmake --build "$WIN" -j2 --target usermgr vorta usermgr-auto >/dev/null
  fi
  stamps() { while IFS= read -r l; do printf '%s %s\n' "$(date +%s%N)" "$l"; done; }
  # wine_case LABEL DB RESULTS: three runs of the program on a copy of DB;
  # the program's peak memory is its largest VmHWM seen while it runs.
  wine_case() {
    local db=$2 rows fuzzy i
    rows=$(res "$3" scan.unit.list-fill 4); fuzzy=$(res "$3" fuzzy.unit.list-fill 4)
    echo "3. The program under Wine on $1, $rows persons, driven by usermgr-auto (medians of 3 runs, s)"
    : > "$OUT/wine-times.txt"
    : > "$OUT/wine-peak.txt"
    : > "$OUT/wine-cpu.txt"
    for i in 1 2 3; do
      USERMGR_WINE_TIMEOUT=600 tests/wine/run.sh "$WIN/usermgr-auto.exe" -D LIMIT=300 -D WORK="$OUT/wine" \
        -D BIN="$WIN" -D DB="$db" -D ROWS="$rows" -D FUZZY_ROWS="$fuzzy" -D ROWS_AFTER_ADD=$((rows + 1)) \
        "$ROOT/bench/wine/program.txt" 2>&1 | stamps > "$OUT/wine-$i.log" &
      local run=$! peak=0 ticks=0 p v
      while kill -0 $run 2>/dev/null; do
        for p in $(pgrep -f "wine.usermgr\.exe" || true); do
          v=$(awk '/^VmHWM/ {print $2}' /proc/$p/status 2>/dev/null || true)
          if [ -n "$v" ] && [ "$v" -gt "$peak" ]; then peak=$v; fi
          v=$(awk '{print $14 + $15}' /proc/$p/stat 2>/dev/null || true)
          if [ -n "$v" ]; then ticks=$v; fi
        done
        sleep 0.05
      done
      wait $run || true
      grep -q 'all steps held' "$OUT/wine-$i.log" || { say "the Wine run failed; see $OUT/wine-$i.log"; tail -5 "$OUT/wine-$i.log" >&2; break; }
      echo "$peak" >> "$OUT/wine-peak.txt"
      awk -v t="$ticks" -v hz="$(getconf CLK_TCK)" 'BEGIN {printf "%.2f\n", t / hz}' >> "$OUT/wine-cpu.txt"
      # A step takes from its announcement to the next one's.
      awk '{sub(/\r$/, ""); t = $1 / 1e9; $1 = ""; l = $0}
           l ~ /\] start /                        {start = t}
           l ~ /\] click 按钮1$/                   {login = t}
           l ~ /\] window "用户管理/              {main = t}
           l ~ /\] set-text 编辑框_关键字/         {filled = t}
           l ~ /\] click 按钮5/                   {search = t}
           l ~ /\] set-text 编辑框_姓名/          {found = t}
           l ~ /\] click 按钮2/                   {add = t}
           l ~ /\] message "数据添加成功/         {added = t}
           l ~ /\] close/                         {refilled = t}
           END {printf "%.2f %.2f %.2f %.2f %.2f\n", login - start, filled - main, (login - start) + (filled - main),
                found - search, refilled - added}' "$OUT/wine-$i.log" >> "$OUT/wine-times.txt"
    done
    if [ "$(wc -l < "$OUT/wine-times.txt")" -gt 0 ]; then
      col() { cut -d' ' -f"$1" "$OUT/wine-times.txt" | median; }
      local peak_mb; peak_mb=$(median < "$OUT/wine-peak.txt" | awk '{printf "%.0f", $1 / 1024}')
      row "start to the login window (Wine process start included)" "$(col 1) s"
      row "login accepted to a filled list" "$(col 2) s"
      row "start-up to a filled list (both)" "$(col 3) s" "(target < 1.5 s: $(verdict "$(col 3)" 1.5 max))"
      row "fuzzy search '张': click to the refilled list" "$(col 4) s" "$fuzzy rows (target < 0.4 s: $(verdict "$(col 4)" 0.4 max))"
      row "refill after an add (message closed to list)" "$(col 5) s" "(target < 1 s: $(verdict "$(col 5)" 1 max))"
      row "the program's peak memory (VmHWM)" "$peak_mb MB" "(aim < 200 MB: $(verdict "$peak_mb" 200 max))"
      row "the program's CPU time, the whole session" "$(median < "$OUT/wine-cpu.txt") s" "(user + system; steadier than the steps under load)"
      echo "  (each step is timed from the driver's announcement of it to the next one's, so the"
      echo "   driver's own pacing of about 0.2 s per step is inside these numbers)"
    fi
    echo
  }
  wine_case "our register" "$BIG" "$OUT/read.txt"
  if [ -n "$OTHER" ]; then wine_case "the register another engine wrote" "$OTHER" "$OUT/read-other.txt"; fi
fi
} | tee "$REPORT"
say "report saved in $REPORT"
