#!/usr/bin/env bash
# Batch move benchmark: a generated dBASE table (ten mixed fields, Japanese text) copied with
# `vemo32-tool copy --mode copy` into PostgreSQL and SQLite, side by side with pgdbf | psql
# and with sqlite3's .import of the same data as CSV. Wall time of the whole job, and the
# tool's peak memory. Prints ours / peer / ratio (peer time divided by ours: above 1 is faster).
# Usage: bench/batchmove.sh [BUILD_DIR] [RECORDS] [PG_PORT]   (default build, 1000000, 55660)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
records="${2:-1000000}"
port="${3:-55660}"
work="${BENCH_DIR:-/tmp/vemo-bench-batchmove}"
pgdir="/tmp/vemo32-pgtest-$port"
gen="$build/bench/bench_dbase_gen"
tool="$build/tools/vemo32-tool"
[ -x "$gen" ] && [ -x "$tool" ] || cmake --build "$build" --target bench_dbase_gen vemo32-tool -j2 >/dev/null
mkdir -p "$work/dbf" "$work/config/vemo32"
if [ ! -f "$work/dbf/BENCH.DBF" ] || [ "$(cat "$work/records" 2>/dev/null)" != "$records" ]; then
  echo "generating $records records ..."
  "$gen" "$work/dbf" "$records"
  mv "$work/dbf/bench.csv" "$work/bench.csv"
  echo "$records" > "$work/records"
fi
bash scripts/pg-test-server.sh start "$pgdir" "$port" >/dev/null
trap 'bash scripts/pg-test-server.sh stop "$pgdir" "$port" >/dev/null' EXIT
psql_() { psql -X -q -h "$pgdir" -p "$port" -U postgres postgres "$@"; }
cat > "$work/config/vemo32/engine.cfg" <<CFG
[DBF]
DRIVER=STANDARD
PATH=$work/dbf
DEFAULT DRIVER=DBASE
[LITE]
DRIVER=SQLITE
DATABASE=$work/ours.sqlite
[PG]
DRIVER=POSTGRESQL
SERVER NAME=$pgdir
PORT=$port
DATABASE NAME=postgres
USER NAME=postgres
SCHEMA=public
SSLMODE=disable
CFG
run_tool() { XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" /usr/bin/time -f "%e %M" "$tool" "$@" 2>&1 >/dev/null | tail -1; }
secs() { local s e; s=$(date +%s%N); "$@" >/dev/null 2>&1; e=$(date +%s%N); awk -v a="$s" -v b="$e" 'BEGIN{printf "%.2f", (b-a)/1e9}'; }

psql_ -c 'DROP TABLE IF EXISTS "BENCH"; DROP TABLE IF EXISTS bench' >/dev/null 2>&1
read -r ours_pg rss_pg <<<"$(run_tool copy DBF BENCH PG BENCH --mode copy)"
peer_pg=$(secs bash -c "pgdbf -s cp932 '$work/dbf/BENCH.DBF' | psql -X -q -h '$pgdir' -p $port -U postgres postgres")

rm -f "$work/ours.sqlite" "$work/peer.sqlite"
sqlite3 "$work/ours.sqlite" 'VACUUM'
read -r ours_lite rss_lite <<<"$(run_tool copy DBF BENCH LITE BENCH --mode copy)"
peer_lite=$(secs sqlite3 "$work/peer.sqlite" ".import --csv $work/bench.csv bench")

printf "%-26s %10s %10s %8s %14s\n" "job ($records records)" "ours s" "peer s" "ratio" "ours max RSS"
printf "%-26s %10s %10s %8s %11s KiB\n" "dBASE -> PostgreSQL copy" "$ours_pg" "$peer_pg" \
  "$(awk -v a="$ours_pg" -v b="$peer_pg" 'BEGIN{printf "%.2f", b/a}')" "$rss_pg"
printf "%-26s %10s %10s %8s %11s KiB\n" "dBASE -> SQLite copy" "$ours_lite" "$peer_lite" \
  "$(awk -v a="$ours_lite" -v b="$peer_lite" 'BEGIN{printf "%.2f", b/a}')" "$rss_lite"
