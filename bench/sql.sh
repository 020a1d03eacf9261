#!/usr/bin/env bash
# Benchmarks the SQLITE and POSTGRESQL drivers on a generated table (1,000,000 rows by
# default) against the databases' own command-line tools, and prints ours/peer/ratio.
# Memory: the same program on a table a tenth the size should need about as much.
#   bench/sql.sh [BUILD_DIR] [ROWS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
rows=${2:-1000000}
small=$((rows / 10))
bench=$build/bench/bench_sql
port=${VEMO_PG_BENCH_PORT:-55440}
pgdir=/tmp/vemo32-pgbench-$port
work=$(mktemp -d /tmp/vemo32-sqlbench.XXXXXX)
chmod 755 "$work"
cleanup() {
  bash "$root/scripts/pg-test-server.sh" stop "$pgdir" "$port" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

now() { date +%s.%N; }
peer() { # NAME COMMAND...: runs the command, prints "NAME seconds"
  local name=$1; shift
  local t0; t0=$(now)
  "$@" >/dev/null
  echo "$name $(awk -v a="$(now)" -v b="$t0" 'BEGIN { print a - b }')"
}

echo "generating $rows rows..." >&2
gen_sqlite() { # TABLE N
  sqlite3 "$work/big.db" "CREATE TABLE $1 (ID INTEGER PRIMARY KEY, NAME VARCHAR(40), QTY INTEGER, PRICE DOUBLE, D DATE);
    WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $2)
    INSERT INTO $1 SELECT i, 'name ' || i, i % 1000, i * 0.5, date('2000-01-01', '+' || (i % 3650) || ' days') FROM n;"
}
gen_sqlite big "$rows"
gen_sqlite small "$small"
bash "$root/scripts/pg-test-server.sh" start "$pgdir" "$port"
export PGHOST=$pgdir PGPORT=$port PGUSER=postgres PGDATABASE=postgres
for t in big:$rows small:$small; do
  psql -qX -c "CREATE TABLE ${t%%:*} (ID integer PRIMARY KEY, NAME varchar(40), QTY integer, PRICE double precision, D date);
    INSERT INTO ${t%%:*} SELECT i, 'name ' || i, i % 1000, i * 0.5, date '2000-01-01' + (i % 3650) FROM generate_series(1, ${t#*:}) i;" >/dev/null
  psql -qX -c "VACUUM ANALYZE ${t%%:*}" >/dev/null
done

run_ours() { "$bench" "$@"; }
report() { # OURS PEER
  echo "operation            ours(s)    peer(s)    ratio"
  join <(sort "$1") <(sort "$2") | while read -r op a b; do
    printf "%-18s %9.4f %10.4f %8.2f\n" "$op" "$a" "$b" "$(awk -v a="$a" -v b="$b" 'BEGIN { print (b > 0 ? a / b : 0) }')"
  done
}

echo "== SQLITE ($rows rows) =="
run_ours SQLITE "$work/big.db" big "$work/ours.csv" >"$work/sqlite-ours.txt"
{
  peer open_first50 sqlite3 -csv "$work/big.db" "SELECT * FROM big ORDER BY ID LIMIT 50"
  peer count sqlite3 "$work/big.db" "SELECT count(*) FROM big"
  peer jump_last sqlite3 -csv "$work/big.db" "SELECT * FROM big ORDER BY ID DESC LIMIT 1"
  peer filter sqlite3 "$work/big.db" "SELECT count(*) FROM big WHERE QTY > 900 AND NAME >= 'name 5'"
  t0=$(now); sqlite3 -csv "$work/big.db" "SELECT * FROM big" >"$work/peer.csv"; echo "export_csv $(awk -v a="$(now)" -v b="$t0" 'BEGIN { print a - b }')"
  peer filter_nocase sqlite3 "$work/big.db" "SELECT count(*) FROM big WHERE QTY > 900 AND NAME >= 'NAME 5' COLLATE NOCASE"
  peer query_open_first50 sqlite3 -csv "$work/big.db" "SELECT * FROM big LIMIT 50"
  peer query_count sqlite3 "$work/big.db" "SELECT count(*) FROM (SELECT * FROM big)"
  peer query_jump_last sqlite3 -csv "$work/big.db" "SELECT * FROM big LIMIT 1 OFFSET $((rows - 1))"
  peer query_paged_jump_last sqlite3 -csv "$work/big.db" "SELECT * FROM big LIMIT 1 OFFSET $((rows - 1))"
} >"$work/sqlite-peer.txt"
report "$work/sqlite-ours.txt" "$work/sqlite-peer.txt"
grep -E '^(rows|filter_nocase_rows|max_rss_kb|query_max_rss_kb)' "$work/sqlite-ours.txt"
run_ours SQLITE "$work/big.db" small "$work/ours-small.csv" | grep -E '^(query_)?max_rss_kb' | sed 's/^/small table /'

echo "== POSTGRESQL ($rows rows) =="
run_ours POSTGRESQL "$pgdir" "$port" big "$work/ours.csv" >"$work/pg-ours.txt"
{
  peer open_first50 psql -qX -c "SELECT * FROM big ORDER BY ID LIMIT 50"
  peer count psql -qX -c "SELECT count(*) FROM big"
  peer jump_last psql -qX -c "SELECT * FROM big ORDER BY ID DESC LIMIT 1"
  peer filter psql -qX -c "SELECT count(*) FROM big WHERE QTY > 900 AND NAME >= 'name 5'"
  peer export_csv psql -qX -c "\\copy big to '$work/peer.csv' csv"
  peer filter_nocase psql -qX -c "SELECT count(*) FROM big WHERE QTY > 900 AND lower(NAME) >= lower('NAME 5')"
  peer query_open_first50 psql -qX -c "SELECT * FROM big LIMIT 50"
  peer query_count psql -qX -c "SELECT count(*) FROM (SELECT * FROM big) q"
  peer query_jump_last psql -qX -c "SELECT * FROM big OFFSET $((rows - 1))"
  peer query_paged_jump_last psql -qX -c "SELECT * FROM big OFFSET $((rows - 1))"
} >"$work/pg-peer.txt"
report "$work/pg-ours.txt" "$work/pg-peer.txt"
grep -E '^(rows|filter_nocase_rows|max_rss_kb|query_max_rss_kb)' "$work/pg-ours.txt"
run_ours POSTGRESQL "$pgdir" "$port" small "$work/ours-small.csv" | grep -E '^(query_)?max_rss_kb' | sed 's/^/small table /'
