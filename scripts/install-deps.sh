#!/usr/bin/env bash
# Installs what VEMO32 needs from Debian's archive. Idempotent: quiet when all is present.
# Usage: scripts/install-deps.sh [--test]
set -euo pipefail
RUN_PKGS=(build-essential cmake pkg-config qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-translations-l10n
          libsqlite3-dev sqlite3 libpq-dev fonts-ipafont fonts-ipaexfont fontconfig xauth xvfb help2man dpkg-dev)
TEST_PKGS=(postgresql postgresql-client pxlib-dev libgtest-dev python3 python3-dbf python3-dbfread libdbd-xbase-perl pgdbf
           poppler-utils openssl clang libclang-rt-14-dev
           desktop-file-utils appstream lintian shared-mime-info libglib2.0-bin groff-base bsdextrautils)
want=("${RUN_PKGS[@]}")
if [ "${1:-}" = "--test" ]; then want+=("${TEST_PKGS[@]}"); fi
missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
