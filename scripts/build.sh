#!/usr/bin/env bash
# Configures and builds VEMO32 into build/ (2 parallel jobs).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build build -j2
