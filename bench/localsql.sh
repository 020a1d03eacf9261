#!/usr/bin/env bash
# Local SQL benchmark: statements over the 1,000,000-record dBASE table of bench/dbase.sh
# (with an index on ID and a 100,000-record SMALL table) through the STANDARD driver's SQL,
# side by side with sqlite3 on the same data in a native SQLite database with the same
# indexes. Prints, for ours and sqlite3, the elapsed time and the processor time (user +
# system, which a busy shared machine disturbs far less), and both ratios. The updates run
# on fresh copies on both sides: with syncing on (sqlite3 with its default synchronous
# setting, ours by default) and with both off (PRAGMA synchronous = OFF, VEMO32_SYNC=0).
# Usage: bench/localsql.sh [BUILD_DIR] [RECORDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
records="${2:-1000000}"
src="${BENCH_DIR:-/tmp/vemo-bench-dbase}"
work="${LOCALSQL_BENCH_DIR:-/tmp/vemo-bench-localsql}"
cmake --build "$build" --target bench_dbase_gen bench_localsql -j2 >/dev/null
if [ ! -f "$src/BENCH.DBF" ] || [ "$(cat "$src/records" 2>/dev/null)" != "$records" ]; then
  mkdir -p "$src"
  "$build/bench/bench_dbase_gen" "$src" "$records"
  echo "$records" > "$src/records"
fi
ops="${LOCALSQL_BENCH_OPS:-$build/bench/bench_localsql}" # another build of it, to compare
if [ ! -f "$work/base/SMALL.DBF" ] || [ "$(cat "$work/records" 2>/dev/null)" != "$records" ]; then
  rm -rf "$work"; mkdir -p "$work/base"
  cp "$src/BENCH.DBF" "$work/base/"
  VEMO32_SYNC=0 "$ops" "$work/base" setup
  sqlite3 "$work/base/bench.sqlite" <<SQL
CREATE TABLE BENCH(ID INTEGER, NAME TEXT, KANA TEXT, PREF TEXT, CITY TEXT, AGE INTEGER, AMOUNT REAL,
                   JOINED TEXT, ACTIVE INTEGER, CODE TEXT);
.import --csv --skip 1 $src/bench.csv BENCH
CREATE INDEX bench_id ON BENCH(ID);
CREATE TABLE SMALL(ID INTEGER, LABEL TEXT);
.import --csv --skip 1 $work/base/small.csv SMALL
CREATE INDEX small_id ON SMALL(ID);
SQL
  echo "$records" > "$work/records"
fi
# "NAME MS ms rows R cpu C ms": elapsed and processor ms.
wall_of() { sed -E 's/^[a-z0-9]+ ([0-9.]+) ms.*/\1/'; }
cpu_of() { sed -E 's/.* cpu ([0-9.]+) ms.*/\1/'; }
# sqlite3 timed as a whole program (its start included): "elapsed cpu" in ms.
sqlite_ms() {
  local out
  out=$( { TIMEFORMAT='%R %U %S'; time sqlite3 "$@" > /dev/null; } 2>&1 )
  awk -v t="$out" 'BEGIN{ split(t, a, " "); printf "%.1f %.1f", a[1] * 1000, (a[2] + a[3]) * 1000 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.2fx", a/b; else print "-" }'; }
db="$work/base/bench.sqlite"
printf "%-28s %10s %10s %8s | %10s %10s %8s\n" "statement" "ours ms" "sqlite3 ms" "ratio" "ours cpu" "sqlite cpu" "ratio"
# row NAME "OURS_OUTPUT_LINE" "SQLITE_WALL SQLITE_CPU"
row() {
  local w c sw sc
  w=$(echo "$2" | wall_of); c=$(echo "$2" | cpu_of)
  sw=${3% *}; sc=${3#* }
  printf "%-28s %10s %10s %8s | %10s %10s %8s\n" "$1" "$w" "$sw" "$(ratio "$w" "$sw")" "$c" "$sc" "$(ratio "$c" "$sc")"
}
row "GROUP BY PREF" "$("$ops" "$work/base" groupby)" \
  "$(sqlite_ms "$db" "SELECT PREF, COUNT(*), SUM(AMOUNT) FROM BENCH GROUP BY PREF")"
out=$("$ops" "$work/base" lookup)
sq=$(sqlite_ms "$db" "SELECT * FROM BENCH WHERE ID = 123456")
row "ID = 123456 (first)" "$(echo "$out" | sed -n 1p)" "$sq"
row "ID = 654321 (warm)" "$(echo "$out" | sed -n 2p)" "$sq"
row "JOIN 1M x 100k on ID" "$("$ops" "$work/base" join)" \
  "$(sqlite_ms "$db" "SELECT COUNT(*), SUM(b.AMOUNT) FROM BENCH b JOIN SMALL s ON s.ID = b.ID")"
update="UPDATE BENCH SET AMOUNT = AMOUNT + 1 WHERE ID % 50 = 0"
for sync in on off; do
  rm -rf "$work/upd"; cp -r "$work/base" "$work/upd"
  if [ "$sync" = on ]; then
    ours=$("$ops" "$work/upd" update)
    sq=$(sqlite_ms "$work/upd/bench.sqlite" "$update")
  else
    ours=$(VEMO32_SYNC=0 "$ops" "$work/upd" update)
    sq=$(sqlite_ms "$work/upd/bench.sqlite" "PRAGMA synchronous = OFF" "$update")
  fi
  row "UPDATE 2 %, sync $sync" "$ours" "$sq"
done
rm -rf "$work/upd"
out=$("$ops" "$work/base" open)
row "open SELECT *, 50 rows" "$(echo "$out" | grep '^open ')" "$(sqlite_ms "$db" "SELECT * FROM BENCH LIMIT 50")"
echo "memory with that result open: $(echo "$out" | sed -n 's/^open_max_rss //p') (maximum resident size)"
echo "(ratio = ours / sqlite3's; sqlite3 times include starting the sqlite3 program; elapsed times on a shared machine are noisy, processor times much less so)"
