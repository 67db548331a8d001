#!/bin/bash
# The bash completion of vellico-cli: what it offers in each position, and
# that its options and kinds are those the program accepts and the manual
# page documents.
# Usage: completion_test.sh COMPLETION_SCRIPT MAN_PAGE_SOURCE VELLICO_CLI
set -u
completion=$1 man_source=$2 cli=$3
failures=0 passed=0

# shellcheck source=/dev/null
source "$completion"

# complete_words WORD... : COMPREPLY for the last word, one per line, sorted.
complete_words()
{
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _vellico_cli 2>/dev/null
    printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort
}

expect()
{
    local name=$1 want=$2 got=$3
    if [[ $got == "$want" ]]; then
        passed=$((passed + 1))
    else
        failures=$((failures + 1))
        printf 'FAIL %s\n  want: %s\n  got:  %s\n' "$name" "${want//$'\n'/|}" "${got//$'\n'/|}"
    fi
}

lines() { printf '%s\n' "$@" | sort; }

# name | words typed (the last one is being completed) | expected offers
while IFS='|' read -r name words want; do
    [[ -z $name ]] && continue
    eval "set -- $words"
    eval "want_lines=($want)"
    expect "$name" "$(lines "${want_lines[@]}")" "$(complete_words "$@")"
done <<'CASES'
commands        | vellico-cli ''                         | analyze clean help --help --version
command prefix  | vellico-cli c                          | clean
languages       | vellico-cli help ''                    | FR EN DE ES JA ZH
presets         | vellico-cli analyze --preset ''        | in-progress done
preset with =   | vellico-cli clean --preset = d         | done
preset after =  | vellico-cli clean --preset =           | in-progress done
clean options   | vellico-cli clean --d                  | --dry-run
analyze lacks   | vellico-cli analyze --d                |
yes is clean's  | vellico-cli analyze --y                |
options after a path | vellico-cli clean a.fcpbundle --y | --yes
kind prefix     | vellico-cli analyze --only R           | 'Render\ Files'
second kind     | vellico-cli analyze --except 'Render Files,T' | 'Render\ Files,Transcoded\ Media'
quoted kind     | vellico-cli analyze --only '"Sh'       | '"Shared Items'
escaped blank   | vellico-cli analyze --only 'Render\ F' | 'Render\ Files'
after an escaped list | vellico-cli analyze --only = 'Render\ Files,Tr' | 'Render\ Files,Transcoded\ Media'
listed kinds are not offered again | vellico-cli analyze --only 'backups,Render\ Files,' | 'backups,Render\ Files,Analysis\ Files' 'backups,Render\ Files,Transcoded\ Media' 'backups,Render\ Files,Shared\ Items' 'backups,Render\ Files,VideoSegmentationFiles' 'backups,Render\ Files,flexo.apple.com'
sort orders     | vellico-cli analyze --sort ''          | size name
colour choices  | vellico-cli clean --color = n          | never
CASES

# Every kind the completion offers is in the manual page.
mapfile -t kinds < <(complete_words vellico-cli analyze --only '' | sed 's/\\ / /g')
expect "seven kinds offered" 7 "${#kinds[@]}"
for kind in "${kinds[@]}"; do
    grep -qF "*$kind*" "$man_source" || expect "kind in the manual: $kind" present missing
done

# Against the program: skipped while the program predates these options.
if ! "$cli" --version >/dev/null 2>&1; then
    echo "$passed passed, $failures failed"
    echo "vellico-cli has no --version: the program checks are skipped"
    [[ $failures -eq 0 ]] && exit 77
    exit 1
fi

for command in analyze clean; do
    documented=$("$cli" "$command" --help 2>&1 | grep -oE -- '--[a-z][a-z-]+' | sort -u)
    offered=$(complete_words vellico-cli "$command" -- | sort -u)
    expect "$command: completion offers the options --help lists" "$documented" "$offered"
    for option in $documented; do
        grep -qF -- "*$option*" "$man_source" || expect "$command $option in the manual" present missing
    done
done

# The program takes every kind offered (a missing path fails with 1, a bad
# kind is a usage error, 2), and rejects one it does not know.
missing=$(mktemp -u)
for kind in "${kinds[@]}"; do
    "$cli" analyze --only "$kind" "$missing" >/dev/null 2>&1
    expect "vellico-cli accepts the kind $kind" 1 "$?"
done
"$cli" analyze --only "Rendering Files" "$missing" >/dev/null 2>&1
expect "vellico-cli rejects an unknown kind" 2 "$?"

echo "$passed passed, $failures failed"
[[ $failures -eq 0 ]]
