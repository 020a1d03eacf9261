#!/usr/bin/env bash
# A throwaway PostgreSQL server for tests: start DIR PORT | stop DIR PORT.
# Listens on a socket in DIR (PGHOST=DIR, PGPORT=PORT) and on 127.0.0.1:PORT. Role
# "postgres" logs in without a password; role "vemo_pw" (password "secret") must give one.
# With openssl installed the server offers TLS on 127.0.0.1 with a self-signed certificate
# for "localhost" (DIR/root.crt verifies it); plain connections are taken there too.
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
    echo "host all vemo_pw 127.0.0.1/32 scram-sha-256"
    echo "host all all 127.0.0.1/32 trust"
  } >"$dir/data/pg_hba.conf"
  ssl=()
  if command -v openssl >/dev/null 2>&1; then
    openssl req -new -x509 -days 2 -nodes -subj "/CN=localhost" -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" \
      -keyout "$dir/data/server.key" -out "$dir/data/server.crt" >/dev/null 2>&1
    chown postgres "$dir/data/server.key" "$dir/data/server.crt"
    chmod 600 "$dir/data/server.key"
    cp "$dir/data/server.crt" "$dir/root.crt"
    chmod 644 "$dir/root.crt"
    ssl=(-c ssl=on)
  fi
  as_pg "$bin/pg_ctl" -D "$dir/data" -w -l "$dir/server.log" \
    -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off ${ssl[*]}" start >/dev/null
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
