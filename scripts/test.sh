#!/usr/bin/env bash
# Installs the build and test needs, builds, and runs every test through CTest; then runs
# the tests once more built with the address and undefined-behaviour sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --test
bash scripts/build.sh
(cd build && ctest --output-on-failure -j2 --timeout 900)
bash scripts/sanitize.sh
