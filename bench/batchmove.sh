#!/usr/bin/env bash
# Batch move benchmark: a generated dBASE table (ten mixed fields, Japanese text) moved with
# `vemo32-tool copy` between dBASE, SQLite and PostgreSQL, each job side by side with a peer
# doing the same: pgdbf | psql, sqlite3's .import of the same data as CSV, sqlite3 -csv |
# psql \copy, sqlite3 .dump | psql, psql \copy out to CSV (alone and into python3-dbf); then
# update, append-and-update and delete into SQLite and PostgreSQL (no peer does these: their
# figures are for comparing builds, and for the memory). Wall time of the whole job, and the
# tool's peak memory. BENCH_NO_PY=1 skips the (slow, pure Python) dBASE writer peer;
# BENCH_NO_DBF_DEST=1 the PostgreSQL -> dBASE job; BENCH_NO_DUMP=1 the sqlite3 .dump peer (one
# INSERT per record); BENCH_NO_MODES=1 the update, append-update and delete jobs;
# BENCH_NO_PG_UPDATE=1 those into PostgreSQL alone.
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

tool_env() { XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" "$@"; }
rows=()
row() { # job ours_s peer_s rss
  rows+=("$(printf "%-34s %9s %9s %7s %11s KiB" "$1" "$2" "$3" "$(awk -v a="$2" -v b="$3" 'BEGIN{ if (b == "-") print "-"; else printf "%.2f", b/a}')" "$4")")
}

# dBASE -> PostgreSQL, copy mode, against pgdbf | psql.
psql_ -c 'DROP TABLE IF EXISTS "BENCH"; DROP TABLE IF EXISTS bench; DROP TABLE IF EXISTS "LITEBENCH"; DROP TABLE IF EXISTS litebench' >/dev/null 2>&1
read -r ours rss <<<"$(run_tool copy DBF BENCH PG BENCH --mode copy)"
peer=$(secs bash -c "pgdbf -s cp932 '$work/dbf/BENCH.DBF' | psql -X -q -h '$pgdir' -p $port -U postgres postgres")
row "dBASE -> PostgreSQL copy" "$ours" "$peer" "$rss"

# dBASE -> SQLite, copy mode, against sqlite3's .import of the same data as CSV.
rm -f "$work/ours.sqlite" "$work/peer.sqlite"
sqlite3 "$work/ours.sqlite" 'VACUUM'
read -r ours rss <<<"$(run_tool copy DBF BENCH LITE BENCH --mode copy)"
peer=$(secs sqlite3 "$work/peer.sqlite" ".import --csv $work/bench.csv bench")
row "dBASE -> SQLite copy" "$ours" "$peer" "$rss"

# SQLite -> PostgreSQL, copy mode, against sqlite3 -csv | psql \copy into a table made first.
read -r ours rss <<<"$(run_tool copy LITE BENCH PG LITEBENCH --mode copy)"
psql_ -c 'CREATE TABLE litebench (id bigint, name text, kana text, pref text, city text, age int, amount numeric(12,2), joined date, active boolean, code text)' >/dev/null
peer=$(secs bash -c "sqlite3 -csv '$work/ours.sqlite' 'SELECT * FROM BENCH' | psql -X -q -h '$pgdir' -p $port -U postgres postgres -c '\\copy litebench FROM STDIN CSV'")
row "SQLite -> PostgreSQL copy" "$ours" "$peer" "$rss"
if [ -z "${BENCH_NO_DUMP:-}" ]; then
  psql_ -c 'DROP TABLE IF EXISTS "BENCH_DUMP"' >/dev/null
  # The dump's booleans are 0 and 1, which PostgreSQL takes for a smallint only.
  peer=$(secs bash -c "sqlite3 '$work/ours.sqlite' '.dump BENCH' | grep -v '^PRAGMA' | sed 's/^CREATE TABLE IF NOT EXISTS \"BENCH\"/CREATE TABLE \"BENCH_DUMP\"/; s/\"ACTIVE\" BOOLEAN/\"ACTIVE\" SMALLINT/; s/^INSERT INTO BENCH /INSERT INTO \"BENCH_DUMP\" /' | psql -X -q -v ON_ERROR_STOP=1 -h '$pgdir' -p $port -U postgres postgres")
  [ "$(psql_ -At -c 'SELECT count(*) FROM "BENCH_DUMP"')" = "$records" ] || peer=failed
  row "SQLite -> PostgreSQL (.dump|psql)" "$ours" "$peer" "$rss"
fi

# PostgreSQL -> dBASE, copy mode, against psql \copy to CSV | python3-dbf (bench/batchmove_dbf_peer.py).
rm -f "$work/dbf/PGBENCH.DBF" "$work/peer.dbf"
if [ -z "${BENCH_NO_DBF_DEST:-}" ]; then
read -r ours rss <<<"$(run_tool copy PG BENCH DBF PGBENCH --mode copy)"
peer=$(secs bash -c "psql -X -q -h '$pgdir' -p $port -U postgres postgres -c '\\copy \"BENCH\" TO STDOUT CSV' > '$work/pgout.csv'")
row "PostgreSQL -> dBASE (\\copy out)" "$ours" "$peer" "$rss"
if [ -z "${BENCH_NO_PY:-}" ]; then
  peer=$(secs bash -c "psql -X -q -h '$pgdir' -p $port -U postgres postgres -c '\\copy \"BENCH\" TO STDOUT CSV' | /usr/bin/python3 bench/batchmove_dbf_peer.py '$work/dbf/BENCH.DBF' '$work/peer.dbf'")
else
  peer=-
fi
row "PostgreSQL -> dBASE copy" "$ours" "$peer" "$rss"
fi

# Update, append-and-update and delete: every record found by key in the destination and
# rewritten (append-update finds them all, so it updates too), then every record deleted.
if [ -z "${BENCH_NO_MODES:-}" ]; then
  sqlite3 "$work/ours.sqlite" 'CREATE UNIQUE INDEX BENCH_ID ON BENCH(ID)'
  for mode in update appendupdate delete; do
    read -r ours rss <<<"$(run_tool copy DBF BENCH LITE BENCH --mode $mode)"
    row "dBASE -> SQLite $mode" "$ours" "-" "$rss"
  done
  if [ -z "${BENCH_NO_PG_UPDATE:-}" ]; then
    psql_ -c 'ALTER TABLE "BENCH" ADD PRIMARY KEY ("ID")' >/dev/null
    for mode in update appendupdate delete; do
      read -r ours rss <<<"$(run_tool copy DBF BENCH PG BENCH --mode $mode)"
      row "dBASE -> PostgreSQL $mode" "$ours" "-" "$rss"
    done
  fi
fi

printf "%-34s %9s %9s %7s %15s\n" "job ($records records)" "ours s" "peer s" "ratio" "ours max RSS"
printf "%s\n" "${rows[@]}"
echo "(ratio: peer time divided by ours; above 1 is faster than the peer)"
