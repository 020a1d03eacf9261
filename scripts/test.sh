#!/usr/bin/env bash
# Installs the build and test needs, builds, and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --test
bash scripts/build.sh
cd build
ctest --output-on-failure -j2 --timeout 900
