# bash completion for vellico-cli: commands, options, presets, folder kinds
# and help languages. Names with blanks (libraries are often named after
# people: "Mariage Dupont.fcpbundle") are completed whole.

_vellico_cli_kinds=('Render Files' 'Analysis Files' 'Transcoded Media' 'Shared Items'
    'VideoSegmentationFiles' 'flexo.apple.com' 'backups')

# The word in $1 as the shell will read it: an opening quote dropped, a
# closing one too, and backslash escapes undone. The result is in REPLY.
_vellico_cli_dequote()
{
    local word=$1 i c
    REPLY=
    case $word in
        \"* | \'*)
            word=${word:1}
            word=${word%[\"\']}
            REPLY=$word
            return
            ;;
    esac
    for ((i = 0; i < ${#word}; i++)); do
        c=${word:i:1}
        if [[ $c == \\ ]] && ((i + 1 < ${#word})); then
            ((i++))
            c=${word:i:1}
        fi
        REPLY+=$c
    done
}

# Completes the last item of a comma-separated list of kinds in $1, as
# typed: after an opening quote the offers stay inside it; otherwise their
# blanks are escaped here. Readline's own filename quoting is not used: it
# would escape the commas too, and the list could not be read back.
_vellico_cli_complete_kinds()
{
    local typed=$1 quote= done_part kind item
    case $typed in
        \"* | \'*) quote=${typed:0:1} ;;
    esac
    _vellico_cli_dequote "$typed"
    typed=$REPLY
    done_part=
    if [[ $typed == *,* ]]; then
        done_part=${typed%,*},
    fi
    COMPREPLY=()
    for kind in "${_vellico_cli_kinds[@]}"; do
        if [[ $done_part$kind == "$typed"* && ,$done_part != *",$kind,"* ]]; then
            item=$done_part$kind
            if [[ -n $quote ]]; then
                COMPREPLY+=("$quote$item")
            else
                COMPREPLY+=("${item// /\\ }")
            fi
        fi
    done
    # A comma and another kind may follow.
    compopt -o nospace 2>/dev/null
}

# Folders whose names start with the word in $1 as typed, one reply each
# whatever blanks they hold; readline quotes them.
_vellico_cli_complete_folders()
{
    local line
    _vellico_cli_dequote "$1"
    COMPREPLY=()
    compopt -o filenames 2>/dev/null
    while IFS= read -r line; do
        COMPREPLY+=("$line")
    done < <(compgen -d -- "$REPLY")
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
        --sort)
            COMPREPLY=($(compgen -W 'size name' -- "$cur"))
            return
            ;;
        --color)
            COMPREPLY=($(compgen -W 'auto always never' -- "$cur"))
            return
            ;;
        --only | --except)
            _vellico_cli_complete_kinds "$cur"
            return
            ;;
        --home)
            _vellico_cli_complete_folders "$cur"
            return
            ;;
        --jobs)
            COMPREPLY=()
            return
            ;;
    esac

    if [[ $cur == -* ]]; then
        local options='--json --preset --home --recursive --only --except --original --jobs --help'
        options+=' --bytes --binary --sort --color --quiet --verbose'
        if [[ $command == clean ]]; then
            options+=' --dry-run --yes'
        fi
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    # Libraries are folders.
    _vellico_cli_complete_folders "$cur"
}

complete -F _vellico_cli vellico-cli
