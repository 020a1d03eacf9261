#!/usr/bin/env bash
# Installs what VEMO32 needs, builds it and starts it on its sample data.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "vemo32: no display found (DISPLAY and WAYLAND_DISPLAY are unset)." >&2
  echo "Start it from a desktop session, or under a virtual display: xvfb-run -a build/vemo32" >&2
  exit 1
fi
exec build/vemo32 "$@"
