#!/usr/bin/env bash
# Paradox benchmark: the engine against pxlib on the same keyed table.
# Usage: bench/paradox.sh [BUILD_DIR] [RECORDS]   (default build, 1000000), as the other benchmarks
set -euo pipefail
build="${1:-build}"
n="${2:-1000000}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$build/bench/bench_paradox" make "$work/BENCH.DB" "$n"
ours="$("$build/bench/bench_paradox" run "$work/BENCH.DB" "$work/ours.csv")"
peer="$("$build/bench/paradox/bench_paradox_peer" "$work/BENCH.DB" "$work/peer.csv")"
echo "records: $n   table: $(du -h "$work/BENCH.DB" | cut -f1)"
printf "%-18s %12s %12s %8s\n" measure ours pxlib ratio
for m in open_first50_ms last_ms count_ms filter_ms export_ms rss_open_kb rss_end_kb; do
  a="$(awk -v k="$m" '$1==k{print $2}' <<<"$ours")"
  b="$(awk -v k="$m" '$1==k{print $2}' <<<"$peer")"
  r="$(awk -v a="$a" -v b="$b" 'BEGIN{ if (a > 0) printf "%.2f", b / a; else print "-" }')"
  printf "%-18s %12s %12s %8s\n" "$m" "$a" "$b" "$r"
done
echo "ratio = pxlib / ours (above 1: ours is faster or smaller)"
awk '$1=="filter_count"||$1=="count"{print "ours  " $0}' <<<"$ours"
awk '$1=="filter_count"||$1=="count"{print "pxlib " $0}' <<<"$peer"
