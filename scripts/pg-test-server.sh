#!/usr/bin/env bash
# A throwaway PostgreSQL server for tests: start DIR PORT | stop DIR PORT.
# Listens only on a socket in DIR (PGHOST=DIR, PGPORT=PORT). Role "postgres" logs in
# without a password; role "vemo_pw" (password "secret") must give one.
set -euo pipefail
cmd=${1:?start|stop}; dir=${2:?directory}; port=${3:?port}
bin=/usr/lib/postgresql/15/bin
as_pg() { runuser -u postgres -- "$@"; }
case "$cmd" in
start)
  if [ -f "$dir/data/postmaster.pid" ]; then
    as_pg "$bin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
  mkdir -p "$dir"
  chown postgres "$dir"
  chmod 700 "$dir"
  # postgres must be able to reach the directory through its parents.
  p=$(dirname "$dir")
  while [ "$p" != / ]; do chmod o+x "$p" 2>/dev/null || true; p=$(dirname "$p"); done
  as_pg "$bin/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --no-locale >"$dir/initdb.log" 2>&1
  {
    echo "local all vemo_pw scram-sha-256"
    echo "local all all trust"
  } >"$dir/data/pg_hba.conf"
  as_pg "$bin/pg_ctl" -D "$dir/data" -w -l "$dir/server.log" \
    -o "-p $port -k $dir -c listen_addresses='' -c fsync=off" start >/dev/null
  as_pg "$bin/psql" -h "$dir" -p "$port" -U postgres -d postgres -qAt \
    -c "CREATE ROLE vemo_pw LOGIN SUPERUSER PASSWORD 'secret'" >/dev/null
  ;;
stop)
  if [ -f "$dir/data/postmaster.pid" ]; then
    as_pg "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null
  fi
  rm -rf "$dir"
  ;;
*)
  echo "usage: $0 start|stop DIR PORT" >&2
  exit 2
  ;;
esac
