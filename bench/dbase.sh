#!/usr/bin/env bash
# dBASE benchmark: a generated table of 1,000,000 records (ten mixed fields, Japanese text)
# read through the STANDARD driver, side by side with python3-dbfread on the same file and
# sqlite3 on the same data loaded into SQLite. Prints ours / peer / ratio per operation.
# Usage: bench/dbase.sh [BUILD_DIR] [RECORDS]      (default build, 1000000)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
records="${2:-1000000}"
work="${BENCH_DIR:-/tmp/vemo-bench-dbase}"
gen="$build/bench/bench_dbase_gen"
ops="$build/bench/bench_dbase_ops"
[ -x "$gen" ] && [ -x "$ops" ] || cmake --build "$build" --target bench_dbase_gen bench_dbase_ops -j2 >/dev/null
mkdir -p "$work"
if [ ! -f "$work/BENCH.DBF" ] || [ "$(cat "$work/records" 2>/dev/null)" != "$records" ]; then
  echo "generating $records records in $work ..."
  "$gen" "$work" "$records"
  rm -f "$work/bench.sqlite"
  echo "$records" > "$work/records"
fi
if ! sqlite3 "$work/bench.sqlite" "SELECT 1 FROM bench LIMIT 1" >/dev/null 2>&1; then
  rm -f "$work/bench.sqlite"
  sqlite3 "$work/bench.sqlite" <<SQL
CREATE TABLE bench(ID INTEGER, NAME TEXT, KANA TEXT, PREF TEXT, CITY TEXT, AGE INTEGER, AMOUNT REAL,
                   JOINED TEXT, ACTIVE INTEGER, CODE TEXT);
.import --csv --skip 1 $work/bench.csv bench
SQL
fi
ls -l "$work/BENCH.DBF" | awk '{printf "table: %s bytes\n", $5}'

ms_of() { sed -E 's/^[a-z]+ ([0-9.]+) ms.*/\1/'; }
rss_of() { sed -E 's/.*max RSS ([0-9]+) KiB.*/\1/'; }
# Best of RUNS runs (default 3), in milliseconds.
best() {
  local b=""
  for _ in $(seq "${RUNS:-3}"); do
    local t; t=$("$@" | ms_of)
    if [ -z "$b" ] || awk -v a="$t" -v b="$b" 'BEGIN{exit !(a<b)}'; then b="$t"; fi
  done
  echo "$b"
}
sqlite_ms() { # wall time of the sqlite3 command, output to /dev/null
  local s e; s=$(date +%s%N); sqlite3 "$@" > /dev/null; e=$(date +%s%N)
  awk -v s="$s" -v e="$e" 'BEGIN{printf "%.1f", (e-s)/1e6}'
}
best_sqlite() {
  local b=""
  for _ in 1 2 3; do
    local t; t=$(sqlite_ms "$@")
    if [ -z "$b" ] || awk -v a="$t" -v b="$b" 'BEGIN{exit !(a<b)}'; then b="$t"; fi
  done
  echo "$b"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (a > 0) printf "%.1fx", b/a; else print "-" }'; }

db="$work/bench.sqlite"
printf "\n%-22s %12s %14s %8s %14s %8s\n" "operation" "ours ms" "dbfread ms" "speedup" "sqlite3 ms" "speedup"
for op in open last count filter export; do
  out=()
  [ "$op" = export ] && out=("$work/ours.csv")
  ours=$(best "$ops" "$work" "$op" "${out[@]}")
  [ "$op" = export ] && out=("$work/dbfread.csv")
  peer=$(RUNS=1 best /usr/bin/python3 bench/dbase_peer.py "$work" "$op" "${out[@]}")  # slow: once
  case "$op" in
    open)   sq=$(best_sqlite "$db" "SELECT * FROM bench LIMIT 50") ;;
    last)   sq=$(best_sqlite "$db" "SELECT * FROM bench ORDER BY rowid DESC LIMIT 1") ;;
    count)  sq=$(best_sqlite "$db" "SELECT count(*) FROM bench") ;;
    filter) sq=$(best_sqlite "$db" "SELECT * FROM bench WHERE AGE = 42") ;;
    export) sq=$(best_sqlite -csv "$db" "SELECT * FROM bench") ;;
  esac
  printf "%-22s %12s %14s %8s %14s %8s\n" "$op" "$ours" "$peer" "$(ratio "$ours" "$peer")" "$sq" "$(ratio "$ours" "$sq")"
done
echo
echo "memory (max RSS while the table is open):"
for op in open count export; do
  out=()
  [ "$op" = export ] && out=("$work/ours.csv")
  printf "  ours %-7s %8s KiB\n" "$op" "$("$ops" "$work" "$op" "${out[@]}" | rss_of)"
done
printf "  dbfread open  %8s KiB\n" "$(/usr/bin/python3 bench/dbase_peer.py "$work" open | rss_of)"
echo "(speedup = peer time / our time; above 1.0x we are faster)"
echo
echo "with a production index on NAME (a copy of the table):"
mkdir -p "$work/indexed"
cp "$work/BENCH.DBF" "$work/indexed/BENCH.DBF"
rm -f "$work/indexed/BENCH.MDX"
for op in index order insert; do
  printf "  %-7s %s\n" "$op" "$("$ops" "$work/indexed" "$op")"
done
rm -rf "$work/indexed"
