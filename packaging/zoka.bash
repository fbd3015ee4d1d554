# bash completion for zoka: subcommands from its help, effect names and
# parameter keys from the module, asked for at completion time.
# The key is the word before "registered" or "not registered".
_zoka_effects() {
    zoka list 2>/dev/null | awk '{ for (i = 2; i <= NF; ++i) if ($i == "registered" || ($i == "not" && $(i+1) == "registered")) { print $(i-1); break } }'
}
_zoka_params() { zoka params "$1" 2>/dev/null | awk 'NR > 1 && $3 != "-" { print $3 }'; }
_zoka_subcommands() { zoka --help 2>/dev/null | awk 'tolower($0) ~ /^subcommands:/ { on = 1; next } on && /^  [a-z]/ { print $1 }'; }

_zoka() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local i command="" effect=""
    for ((i = 1; i < COMP_CWORD; ++i)); do
        case ${COMP_WORDS[i]} in
            --then) effect=${COMP_WORDS[i+1]}; ((++i)) ;;   # a further effect: --set is its
            -*) ;;
            *) if [[ -z $command ]]; then command=${COMP_WORDS[i]}
               elif [[ -z $effect ]]; then effect=${COMP_WORDS[i]}; fi ;;
        esac
    done
    if [[ $prev == --then ]]; then
        COMPREPLY=($(compgen -W "$(_zoka_effects)" -- "$cur"))
        return
    fi
    if [[ $prev == --set ]]; then
        [[ -n $effect ]] && COMPREPLY=($(compgen -S = -W "$(_zoka_params "$effect")" -- "$cur"))
        compopt -o nospace 2>/dev/null
        return
    fi
    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$(_zoka_subcommands)" -- "$cur"))
    elif [[ -z $effect && $cur != -* && $command != list && $command != demo ]]; then
        COMPREPLY=($(compgen -W "$(_zoka_effects)" -- "$cur"))
    else
        COMPREPLY=($(compgen -f -W "--set --then --help --json" -- "$cur"))
    fi
}
complete -F _zoka zoka
