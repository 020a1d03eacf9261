#!/usr/bin/env bash
# Builds the Debian package of VEMO32 into dist/ (or the folder given): installs what the
# build needs, builds the program and the tool without the tests in build-deb/, and packs
# them with CPack (prefix /usr).
# Usage: scripts/package.sh [OUTDIR]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-dist}")
bash scripts/install-deps.sh
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEMO_BUILD_TESTS=OFF -DVEMO_BUILD_BENCH=OFF \
      "${launcher[@]}" >/dev/null
cmake --build build-deb -j2
mkdir -p "$out"
cpack --config build-deb/CPackConfig.cmake -G DEB -B "$out" >/dev/null
rm -rf "$out/_CPack_Packages"
ls "$out"/vemo32_*.deb
