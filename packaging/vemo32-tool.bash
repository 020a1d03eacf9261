# bash completion for vemo32-tool. Command names, their options and the kind of each
# argument come from the tool itself (--commands, COMMAND --help), so every command of the
# tool is completed without changes here.

_vemo32_tool_usage()
{
    "$1" "$2" --help 2>/dev/null | sed -n 's/^Usage: [^ ]* [^ ]* //p' | head -n 1
}

# The positional words of a usage text: "[FILE]" counts as FILE; options, their values and
# other bracketed parts are left out.
_vemo32_tool_shape()
{
    tr ' ' '\n' <<<"$1" | sed 's/^\[\([A-Z]*\)\]$/\1/' | grep -E '^([A-Z]+|[a-z]+)$' | tr '\n' ' '
}

_vemo32_tool()
{
    local tool=${COMP_WORDS[0]} cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD-1]}
    COMPREPLY=()
    if [ "$COMP_CWORD" -eq 1 ]; then
        COMPREPLY=($(compgen -W "$("$tool" --commands 2>/dev/null) --help --version --commands" -- "$cur"))
        return 0
    fi
    local command=${COMP_WORDS[1]} usage
    usage=$(_vemo32_tool_usage "$tool" "$command")
    [ -n "$usage" ] || return 0
    # Options: those the usage line names; an option followed by an upper-case word takes a value.
    local valued
    valued=$(grep -oE -- '--[a-z][a-z-]* [A-Z0-9]' <<<"$usage" | cut -d' ' -f1)
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(grep -oE -- '--[a-z][a-z-]*' <<<"$usage" | sort -u) --help" -- "$cur"))
        return 0
    fi
    if [[ $prev == --* ]] && grep -qx -- "$prev" <<<"$valued"; then
        return 0
    fi
    # The positional words given so far (options and their values left out).
    local -a given=()
    local i w
    for ((i = 2; i < COMP_CWORD; i++)); do
        w=${COMP_WORDS[i]}
        if [[ $w == --* ]]; then
            grep -qx -- "$w" <<<"$valued" && ((i++))
            continue
        fi
        given+=("$w")
    done
    # The usage's positional words; a first word in lower case names a subcommand
    # ("alias add ... | delete NAME | show NAME"), and the words after it are its own.
    local -a shape=()
    local alt
    if [[ $usage =~ ^[a-z] ]]; then
        if [ ${#given[@]} -eq 0 ]; then
            COMPREPLY=($(compgen -W "$(sed 's/|/\n/g' <<<"$usage" | awk '{print $1}')" -- "$cur"))
            return 0
        fi
        alt=$(sed 's/|/\n/g' <<<"$usage" | awk -v s="${given[0]}" '$1 == s')
        read -ra shape <<<"$(_vemo32_tool_shape "$alt")"
    else
        read -ra shape <<<"$(_vemo32_tool_shape "$usage")"
    fi
    local kind=${shape[${#given[@]}]}
    case $kind in
    ALIAS)
        COMPREPLY=($(compgen -W "$("$tool" aliases 2>/dev/null)" -- "$cur")) ;;
    NAME)
        # An existing alias for every subcommand but the one that adds it.
        [ "${given[0]}" = add ] || COMPREPLY=($(compgen -W "$("$tool" aliases 2>/dev/null)" -- "$cur")) ;;
    TABLE)
        COMPREPLY=($(compgen -W "$("$tool" tables "${given[${#given[@]}-1]}" --ext 2>/dev/null)" -- "$cur")) ;;
    FILE)
        COMPREPLY=($(compgen -f -- "$cur")) ;;
    DIR)
        COMPREPLY=($(compgen -d -- "$cur")) ;;
    esac
    return 0
}
complete -F _vemo32_tool vemo32-tool
