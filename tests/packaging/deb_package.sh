#!/usr/bin/env bash
# Packs the build with CPack into a temporary folder and inspects the package: its files
# (dpkg-deb -c) are the installed tree under /usr, its dependencies are Debian's own
# packages, and lintian reports no error.
# Usage: deb_package.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/vemo32_*.deb)
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/vemo32 ./usr/bin/vemo32-tool ./usr/share/applications/org.example.vemo32.desktop \
         ./usr/share/metainfo/org.example.vemo32.metainfo.xml ./usr/share/mime/packages/vemo32.xml \
         ./usr/share/icons/hicolor/48x48/apps/org.example.vemo32.png ./usr/share/man/man1/vemo32.1.gz \
         ./usr/share/man/man1/vemo32-tool.1.gz ./usr/share/bash-completion/completions/vemo32-tool \
         ./usr/share/doc/vemo32/copyright ./usr/share/doc/vemo32/changelog.gz; do
  grep -qx -- "$f" <<<"$files" || fail "package lacks $f"
done
grep -v '^\./usr/' <<<"$files" | grep -q . && fail "package has files outside /usr"
depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6widgets6 libsqlite3-0 libpq5 fonts-ipafont-gothic qt6-qpa-plugins; do
  grep -q "\b$p\b" <<<"$depends" || fail "Depends lacks $p: $depends"
done
# Every dependency is a package Debian's archive knows.
for p in $(tr ',' '\n' <<<"$depends" | sed 's/(.*)//; s/|.*//' | tr -d ' '); do
  apt-cache show "$p" >/dev/null 2>&1 || dpkg-query -W "$p" >/dev/null 2>&1 || fail "unknown package $p"
done
lintian --fail-on error --allow-root "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log"; fail "lintian"; }
grep '^E:' "$work/lintian.log" && fail "lintian errors"
cat "$work/lintian.log"
echo "package checked: $(basename "$deb"), $(wc -l <<<"$files") entries"
