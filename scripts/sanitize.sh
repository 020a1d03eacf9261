#!/usr/bin/env bash
# Builds the program and its tests with the address and undefined-behaviour sanitizers into
# build-sanitize/ and runs the tests there (the fuzzers have a run of their own). Any
# sanitizer report fails the run; allocations Qt keeps for the life of a process are not
# counted as leaks (tests/sanitizers/lsan.supp).
set -euo pipefail
cd "$(dirname "$0")/.."
san="-fsanitize=address,undefined -fno-omit-frame-pointer"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DVEMO_BUILD_BENCH=OFF \
      -DCMAKE_C_FLAGS="$san" -DCMAKE_CXX_FLAGS="$san" -DCMAKE_EXE_LINKER_FLAGS="$san" >/dev/null
cmake --build build-sanitize -j2 >/dev/null
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd build-sanitize
ctest --output-on-failure -j2 --timeout 900 -E '^fuzz_smoke$'
