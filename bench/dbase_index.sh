#!/usr/bin/env bash
# Posts on indexed dBASE tables (10,000 and 1,000,000 records, three tags), side by side with
# sqlite3 on the same data with the same three indexes, with syncing on and off (VEMO32_SYNC=0
# and PRAGMA synchronous=OFF); then a bulk append of RECORDS records with three tags against
# the same append without indexes plus one build.
# Usage: bench/dbase_index.sh [BUILD_DIR] [POSTS] [RECORDS]   (default build, 50, 1000000)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
posts="${2:-50}"
records="${3:-1000000}"
work="${BENCH_DIR:-/tmp/vemo-bench-dbase-index}"
gen="$build/bench/bench_dbase_gen"
idx="$build/bench/bench_dbase_index"
[ -x "$gen" ] && [ -x "$idx" ] || cmake --build "$build" --target bench_dbase_gen bench_dbase_index -j2 >/dev/null
for n in 10000 "$records"; do
  dir="$work/$n"
  mkdir -p "$dir"
  if [ ! -f "$dir/BENCH.MDX" ]; then
    echo "generating $n records with three tags in $dir ..."
    VEMO32_SYNC=0 "$gen" "$dir" "$n" tags
    rm -f "$dir/bench.sqlite"
    sqlite3 "$dir/bench.sqlite" <<SQL
CREATE TABLE bench(ID INTEGER, NAME TEXT, KANA TEXT, PREF TEXT, CITY TEXT, AGE INTEGER, AMOUNT REAL,
                   JOINED TEXT, ACTIVE INTEGER, CODE TEXT);
.import --csv --skip 1 $dir/bench.csv bench
CREATE UNIQUE INDEX bench_id ON bench(ID);
CREATE INDEX bench_name ON bench(NAME);
CREATE INDEX bench_joined ON bench(JOINED);
SQL
  fi
  for sync in 1 0; do
    echo "== $n records, sync $sync"
    printf "ours: "; VEMO32_SYNC=$sync "$idx" posts "$dir" "$posts" | tail -1
    printf "peer: "; python3 bench/dbase_index_peer.py "$dir/bench.sqlite" "$posts" $([ $sync = 0 ] && echo nosync)
  done
  # Syncing off again, every file held in 4 KiB pages (see bench/page_cache.py).
  python3 bench/page_cache.py "$dir/BENCH.DBF" "$dir/BENCH.MDX" "$dir/bench.sqlite"
  echo "== $n records, sync 0, 4 KiB pages"
  printf "ours: "; VEMO32_SYNC=0 "$idx" posts "$dir" "$posts" | tail -1
  printf "peer: "; python3 bench/dbase_index_peer.py "$dir/bench.sqlite" "$posts" nosync
done
echo "== bulk"
VEMO32_SYNC=0 "$idx" bulk "$work/$records" "$records"
