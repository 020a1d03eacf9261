#!/usr/bin/env bash
# Every command of vemo32-tool answers "COMMAND --help" with its usage, and the bash
# completion offers the commands, their options, alias names and table names.
# Usage: tool_help_completion.sh TOOL COMPLETION_SCRIPT
set -euo pipefail
tool=$1 script=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
export XDG_CONFIG_HOME=$(mktemp -d) XDG_DATA_HOME=$(mktemp -d)
trap 'rm -rf "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"' EXIT

commands=$("$tool" --commands)
[ "$(wc -l <<<"$commands")" -ge 7 ] || fail "too few commands: $commands"
for c in $commands; do
  out=$("$tool" "$c" --help) || fail "$c --help failed"
  head -1 <<<"$out" | grep -q "^Usage: vemo32-tool $c" || fail "$c --help: $out"
  [ "$(wc -l <<<"$out")" -ge 3 ] || fail "$c --help has no summary"
  "$tool" --help | grep -q "^  $c " || fail "--help lacks $c"
done
if "$tool" no-such-command --help 2>/dev/null; then fail "unknown command accepted"; fi

# Completion, as bash calls it; the tool is found on PATH under its own name.
mkdir -p "$XDG_DATA_HOME/bin" && ln -s "$(realpath "$tool")" "$XDG_DATA_HOME/bin/vemo32-tool"
export PATH=$XDG_DATA_HOME/bin:$PATH
complete() { :; } # the script registers itself; not needed outside an interactive shell
# shellcheck source=/dev/null
source "$script"
comp() {
  COMP_WORDS=(vemo32-tool "$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=()
  _vemo32_tool; printf '%s\n' "${COMPREPLY[@]}"
}
has() { grep -qx -- "$2" <<<"$1" || fail "completion '$3' lacks $2 (got: $(tr '\n' ' ' <<<"$1"))"; }
got=$(comp "")
for c in $commands; do has "$got" "$c" "<empty>"; done
[ "$(comp ta)" = tables ] || fail "ta -> $(comp ta)"
aliases=$(vemo32-tool aliases)
alias1=$(head -1 <<<"$aliases")
[ -n "$alias1" ] || fail "no alias to complete"
has "$(comp tables "")" "$alias1" "tables"
has "$(comp alias show "")" "$alias1" "alias show"
got=$(comp alias "")
for s in add delete show; do has "$got" "$s" "alias"; done
[ -z "$(comp alias add "")" ] || fail "alias add offers existing names"
got=$(comp tables "$alias1" --)
for o in --ext --system --pattern --help; do has "$got" "$o" "tables ALIAS --"; done
[ -z "$(comp tables "$alias1" --pattern "")" ] || fail "an option's value completed as a name"
first_table=$(vemo32-tool tables "$alias1" --ext | head -1)
if [ -n "$first_table" ]; then
  has "$(comp fields "$alias1" "")" "$first_table" "fields ALIAS"
  has "$(comp export "$alias1" --index X "")" "$first_table" "export ALIAS --index X"
fi
echo "tool help and completion checked: $(wc -l <<<"$commands") commands, alias $alias1"
