#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR (prefix /usr) and checks every file: the list
# is exactly the expected one, the programs run, the icons have their sizes, the desktop
# entry and the metainfo validate, the manual pages render without warnings, and the table
# types are told apart by their contents.
# Usage: install_tree.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 src=$2
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$work/dest cmake --install "$build" --prefix /usr >/dev/null
root=$work/dest/usr
id=org.example.vemo32
{
  echo bin/vemo32; echo bin/vemo32-tool
  echo share/applications/$id.desktop
  echo share/metainfo/$id.metainfo.xml
  echo share/mime/packages/vemo32.xml
  echo share/bash-completion/completions/vemo32-tool
  echo share/man/man1/vemo32.1.gz; echo share/man/man1/vemo32-tool.1.gz
  echo share/doc/vemo32/copyright; echo share/doc/vemo32/changelog.gz
  for f in "$src"/shell/resources/help/*.html; do echo "share/doc/vemo32/html/$(basename "$f")"; done
  for s in 16 22 24 32 48 64 128 256; do echo "share/icons/hicolor/${s}x${s}/apps/$id.png"; done
} | sort >"$work/expected"
(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort) >"$work/installed"
diff -u "$work/expected" "$work/installed" || fail "installed files differ from the expected list"
[ -z "$(find "$work/dest" -mindepth 1 -maxdepth 1 ! -name usr)" ] || fail "files outside the prefix"

# Programs: executable, the tool answers from the installed place.
[ -x "$root/bin/vemo32" ] && [ -x "$root/bin/vemo32-tool" ] || fail "programs not executable"
"$root/bin/vemo32-tool" --version | grep -qx 'vemo32-tool [0-9.]*' || fail "tool --version"

# Icons: PNG files of the size their folder names.
for s in 16 22 24 32 48 64 128 256; do
  python3 - "$root/share/icons/hicolor/${s}x${s}/apps/$id.png" "$s" <<'PY' || fail "icon ${s}x${s}"
import struct, sys
data = open(sys.argv[1], 'rb').read(24)
assert data[:8] == b'\x89PNG\r\n\x1a\n' and data[12:16] == b'IHDR', 'not a PNG'
w, h = struct.unpack('>II', data[16:24])
assert w == h == int(sys.argv[2]), (w, h)
PY
done

# Desktop entry: valid, Japanese name with an English fallback, its program and icon installed.
desktop=$root/share/applications/$id.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -q '^Name=VEMO32' "$desktop" && grep -q '^Name\[ja\]=.*テーブル' "$desktop" || fail "desktop names"
grep -q '^Categories=Office;Database;$' "$desktop" || fail "desktop categories"
exe=$(sed -n 's/^Exec=\([^ ]*\) %F$/\1/p' "$desktop")
[ -x "$root/bin/$exe" ] || fail "Exec program $exe not installed"
[ "$(sed -n 's/^Icon=//p' "$desktop")" = "$id" ] || fail "desktop icon name"
grep -q '^MimeType=application/x-dbf;application/x-paradox-table;$' "$desktop" || fail "desktop types"

# Metainfo: valid offline, pointing at the desktop entry.
appstreamcli validate --no-net "$root/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$root/share/metainfo/$id.metainfo.xml" \
  || fail "metainfo launchable"

# Manual pages: render without warnings; the tool's page names every command of the tool.
for m in vemo32 vemo32-tool; do
  warnings=$(zcat "$root/share/man/man1/$m.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
  [ -z "$warnings" ] || fail "$m(1): $warnings"
done
page=$(zcat "$root/share/man/man1/vemo32-tool.1.gz" | groff -man -Tutf8 2>/dev/null | col -b)
for c in $("$root/bin/vemo32-tool" --commands); do
  grep -qw -- "$c" <<<"$page" || fail "vemo32-tool(1) lacks the command $c"
done

# Table types: a private MIME database of the installed definitions, asked through GIO.
mkdir -p "$work/mime-home/mime/packages"
cp "$root/share/mime/packages/vemo32.xml" "$work/mime-home/mime/packages/"
update-mime-database "$work/mime-home/mime" >/dev/null 2>&1 || fail "update-mime-database"
t=$work/tables
XDG_CONFIG_HOME=$work/config "$root/bin/vemo32-tool" sample "$t" >/dev/null
cp "$t/TOKUISAKI.DB" "$t/lower.db"
sqlite3 "$t/sqlite.db" 'create table t(x)'
echo 'not a table' >"$t/notes.db"
type_of() { XDG_DATA_HOME=$work/mime-home gio info -a standard::content-type "$1" | sed -n 's/.*content-type: //p'; }
expect() { [ "$(type_of "$t/$1")" = "$2" ] || fail "$1 is $(type_of "$t/$1"), not $2"; }
expect TOKUISAKI.DB application/x-paradox-table
expect JUCHU.DB application/x-paradox-table
expect lower.db application/x-paradox-table
expect CUSTOMER.DBF application/x-dbf
expect sqlite.db application/vnd.sqlite3
expect notes.db text/plain
echo "installed tree checked: $(wc -l <"$work/installed") files"
