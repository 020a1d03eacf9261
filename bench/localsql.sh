#!/usr/bin/env bash
# Local SQL benchmark: statements over the 1,000,000-record dBASE table of bench/dbase.sh
# (with an index on ID and a 100,000-record SMALL table) through the STANDARD driver's SQL,
# side by side with sqlite3 on the same data in a native SQLite database with the same
# indexes. Prints ours / sqlite3 / ratio. The update runs on fresh copies on both sides.
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
  "$ops" "$work/base" setup
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
ms_of() { sed -E 's/^[a-z0-9]+ ([0-9.]+) ms.*/\1/'; }
sqlite_ms() {
  local s e; s=$(date +%s%N); sqlite3 "$@" > /dev/null; e=$(date +%s%N)
  awk -v s="$s" -v e="$e" 'BEGIN{printf "%.1f", (e-s)/1e6}'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.2fx", a/b; else print "-" }'; }
db="$work/base/bench.sqlite"
printf "%-26s %12s %12s %8s\n" "statement" "ours ms" "sqlite3 ms" "ratio"
row() { printf "%-26s %12s %12s %8s\n" "$1" "$2" "$3" "$(ratio "$2" "$3")"; }
ours=$("$ops" "$work/base" groupby | ms_of)
row "GROUP BY PREF" "$ours" "$(sqlite_ms "$db" "SELECT PREF, COUNT(*), SUM(AMOUNT) FROM BENCH GROUP BY PREF")"
out=$("$ops" "$work/base" lookup)
sq=$(sqlite_ms "$db" "SELECT * FROM BENCH WHERE ID = 123456")
row "ID = 123456 (cold)" "$(echo "$out" | sed -n 1p | ms_of)" "$sq"
row "ID = 654321 (warm)" "$(echo "$out" | sed -n 2p | ms_of)" "$sq"
ours=$("$ops" "$work/base" join | ms_of)
row "JOIN 1M x 100k on ID" "$ours" "$(sqlite_ms "$db" "SELECT COUNT(*), SUM(b.AMOUNT) FROM BENCH b JOIN SMALL s ON s.ID = b.ID")"
rm -rf "$work/upd"; cp -r "$work/base" "$work/upd"
ours=$("$ops" "$work/upd" update | ms_of)
sq=$(sqlite_ms "$work/upd/bench.sqlite" "UPDATE BENCH SET AMOUNT = AMOUNT + 1 WHERE ID % 50 = 0")
row "UPDATE 2 %" "$ours" "$sq"
rm -rf "$work/upd"
ours=$("$ops" "$work/base" open | ms_of)
row "open SELECT *, 50 rows" "$ours" "$(sqlite_ms "$db" "SELECT * FROM BENCH LIMIT 50")"
echo "(ratio = our time / sqlite3's; sqlite3 times include starting the sqlite3 program; the machine is shared, so the numbers are noisy)"
