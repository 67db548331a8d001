# bash completion for vellico-cli: commands, options, presets, folder kinds
# and help languages.

_vellico_cli_kinds=('Render Files' 'Analysis Files' 'Transcoded Media' 'Shared Items'
    'VideoSegmentationFiles' 'flexo.apple.com' 'backups')

# Completes the last item of a comma-separated list of kinds in $1, which may
# start with a quote or hold backslash-escaped blanks as typed.
_vellico_cli_complete_kinds()
{
    local typed=$1 done_part kind
    case $typed in
        \"* | \'*) typed=${typed:1} ;;
    esac
    typed=${typed//\\ / }
    done_part=
    if [[ $typed == *,* ]]; then
        done_part=${typed%,*},
    fi
    COMPREPLY=()
    for kind in "${_vellico_cli_kinds[@]}"; do
        if [[ $done_part$kind == "$typed"* && ,$done_part != *",$kind,"* ]]; then
            COMPREPLY+=("$done_part$kind")
        fi
    done
    # Readline quotes the blanks in the names, and a comma may follow.
    compopt -o filenames -o nospace 2>/dev/null
}

_vellico_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local command= i

    # bash splits "--preset=do" into "--preset", "=" and "do".
    if [[ $cur == = ]]; then
        cur=
    elif [[ $prev == = ]] && ((COMP_CWORD >= 2)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi

    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            analyze | clean | help)
                command=${COMP_WORDS[i]}
                break
                ;;
        esac
    done

    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W 'analyze clean help --help --version' -- "$cur"))
        return
    fi
    if [[ $command == help ]]; then
        COMPREPLY=($(compgen -W 'FR EN DE ES JA ZH' -- "$cur"))
        return
    fi

    case $prev in
        --preset)
            COMPREPLY=($(compgen -W 'in-progress done' -- "$cur"))
            return
            ;;
        --only | --except)
            _vellico_cli_complete_kinds "$cur"
            return
            ;;
        --home)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -d -- "$cur"))
            return
            ;;
        --jobs)
            COMPREPLY=()
            return
            ;;
    esac

    if [[ $cur == -* ]]; then
        local options='--json --preset --home --recursive --only --except --original --jobs --help'
        if [[ $command == clean ]]; then
            options+=' --dry-run --yes'
        fi
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    # Libraries are folders.
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -d -- "$cur"))
}

complete -F _vellico_cli vellico-cli
