#!/usr/bin/env bash
# Posts on keyed Paradox tables with three indexes (primary + two secondary), side by side
# with SQLite holding the same rows and indexes: median ms of one insert, one key-changing
# edit and one delete, with syncing on and with VEMO32_SYNC=0; and a bulk append of the
# whole table with its indexes against one without them plus one rebuild of the indexes.
# Usage: bench/paradox_post.sh [BUILD_DIR] [RECORDS...]   (default build, 10000 1000000)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
shift || true
sizes=("${@:-10000 1000000}")
[ $# -eq 0 ] && sizes=(10000 1000000)
bin="$build/bench/bench_paradox_post"
[ -x "$bin" ] || cmake --build "$build" --target bench_paradox_post -j2 >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
val() { awk -v k="$1" '$1==k{print $2}' <<<"$2"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.2f", a / b; else print "-" }'; }
for n in "${sizes[@]}"; do
  posts=$(( n >= 1000000 ? 200 : 300 ))
  mkdir -p "$work/$n/keep" "$work/$n/plain"
  bulk="$(VEMO32_SYNC=0 "$bin" make "$work/$n/keep/B.DB" "$n")"
  plain="$(VEMO32_SYNC=0 "$bin" make "$work/$n/plain/B.DB" "$n" plain)"
  cp "$work/$n/keep/"* "$work/$n/"
  rebuild="$(VEMO32_SYNC=0 "$bin" rebuild "$work/$n/B.DB")"
  a="$(val bulk_append_ms "$bulk")"; b="$(val bulk_append_ms "$plain")"; r="$(val rebuild_ms "$rebuild")"
  echo "records: $n"
  printf "  bulk append with indexes %10s ms; without %s ms + rebuild %s ms; ratio %s (target <= 1.5)\n" \
    "$a" "$b" "$r" "$(ratio "$a" "$(awk -v b="$b" -v r="$r" 'BEGIN{print b + r}')")"
  for sync in 1 0 small; do
    cp "$work/$n/keep/"* "$work/$n/"
    if [ $sync = small ]; then
      # Syncing off, the files held in 4 KiB pages (see bench/page_cache.py); the peer's file
      # is held so by the same bench program after its bulk load.
      python3 bench/page_cache.py "$work/$n/"B.*
      ours="$(VEMO32_SYNC=0 "$bin" post "$work/$n/B.DB" "$posts")"
      peer="$(VEMO32_SYNC=0 BENCH_PAGE_CACHE=bench/page_cache.py "$bin" sqlite "$work/$n/peer.sqlite" "$n" "$posts")"
    else
      ours="$(VEMO32_SYNC=$sync "$bin" post "$work/$n/B.DB" "$posts")"
      peer="$(VEMO32_SYNC=$sync "$bin" sqlite "$work/$n/peer.sqlite" "$n" "$posts")"
    fi
    printf "  sync %s  %-12s %10s %10s %8s\n" "$([ $sync = 1 ] && echo on || { [ $sync = 0 ] && echo off || echo "off, 4 KiB pages"; })" measure ours sqlite3 ratio
    printf "           %-12s %10s\n" first_write "$(val open_and_first_write_ms "$ours")"
    for m in insert_ms key_edit_ms delete_ms; do
      printf "           %-12s %10s %10s %8s\n" "$m" "$(val $m "$ours")" "$(val $m "$peer")" \
        "$(ratio "$(val $m "$ours")" "$(val $m "$peer")")"
    done
  done
done
echo "ratio = ours / sqlite3 (below 1: ours is faster); medians of $posts posts each"
