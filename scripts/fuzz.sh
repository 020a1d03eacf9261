#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour sanitizers) into
# build-fuzz/ and runs each for a short while on its seed corpus in tests/fuzz/corpus/NAME.
# Usage: scripts/fuzz.sh [seconds-per-target]   (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${1:-20}"
san="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_C_FLAGS="$san -fsanitize=fuzzer-no-link" -DCMAKE_CXX_FLAGS="$san -fsanitize=fuzzer-no-link" \
      -DCMAKE_EXE_LINKER_FLAGS="$san" \
      -DVEMO_BUILD_FUZZERS=ON -DVEMO_BUILD_TESTS=OFF -DVEMO_BUILD_BENCH=OFF >/dev/null
targets=()
for src in tests/fuzz/fuzz_*.cpp; do
  [ -e "$src" ] || continue
  targets+=("$(basename "$src" .cpp)")
done
if [ ${#targets[@]} -eq 0 ]; then echo "no fuzz targets"; exit 0; fi
cmake --build build-fuzz --target "${targets[@]}" -j2 >/dev/null
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for t in "${targets[@]}"; do
  corpus="tests/fuzz/corpus/${t#fuzz_}"
  work="build-fuzz/corpus/$t"
  mkdir -p "$work" build-fuzz/artifacts
  seeds=()
  [ -d "$corpus" ] && seeds+=("$corpus")
  echo "== $t (${secs}s)"
  if ! "build-fuzz/tests/fuzz/$t" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="build-fuzz/artifacts/$t-" -print_final_stats=0 "$work" "${seeds[@]}" \
        > "build-fuzz/$t.log" 2>&1; then
    echo "FAILED: $t (see build-fuzz/$t.log and build-fuzz/artifacts/)"
    tail -n 40 "build-fuzz/$t.log"
    status=1
  fi
done
exit $status
