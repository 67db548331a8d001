# fish completion for vellico-cli: commands, options, presets, folder kinds
# and help languages.

set -l commands analyze clean help

function __vellico_cli_kinds --description 'The kinds, after those already listed'
    set -l token (string unescape -- (commandline -ct))
    set -l token (string replace -r -- '^--(only|except)=' '' $token)
    set -l done_part ''
    if string match -q -- '*,*' $token
        set done_part (string replace -r -- '[^,]*$' '' $token)
    end
    for kind in 'Render Files' 'Analysis Files' 'Transcoded Media' 'Shared Items' \
            VideoSegmentationFiles flexo.apple.com backups
        if not string match -q -- "*,$kind,*" ",$done_part"
            printf '%s%s\n' $done_part $kind
        end
    end
end

complete -c vellico-cli -f
complete -c vellico-cli -n "not __fish_seen_subcommand_from $commands" -s h -l help -d 'Show the usage'
complete -c vellico-cli -n "not __fish_seen_subcommand_from $commands" -s V -l version -d 'Show the name and version'
complete -c vellico-cli -n "not __fish_seen_subcommand_from $commands" -a analyze -d 'Show the generated media and what a preset selects'
complete -c vellico-cli -n "not __fish_seen_subcommand_from $commands" -a clean -d 'Delete the generated media a preset selects'
complete -c vellico-cli -n "not __fish_seen_subcommand_from $commands" -a help -d 'Print the user manual'

complete -c vellico-cli -n '__fish_seen_subcommand_from help' -a 'FR EN DE ES JA ZH' -d Language

set -l run '__fish_seen_subcommand_from analyze clean'
complete -c vellico-cli -n $run -a '(__fish_complete_directories)' -d Library
complete -c vellico-cli -n $run -s h -l help -d 'Show the usage of the command'
complete -c vellico-cli -n $run -l json -d 'Print one JSON document'
complete -c vellico-cli -n $run -l preset -x -a 'in-progress\t"A project still being edited (inProgress in JSON)" done\t"A finished project"' -d 'Choose the folders selected'
complete -c vellico-cli -n $run -l home -x -a '(__fish_complete_directories)' -d 'Home folder whose videos folder holds the backups'
complete -c vellico-cli -n $run -s r -l recursive -d 'Take every library below each folder'
complete -c vellico-cli -n $run -l only -x -a '(__vellico_cli_kinds)' -d 'Select only these kinds'
complete -c vellico-cli -n $run -l except -x -a '(__vellico_cli_kinds)' -d 'Leave these kinds out'
complete -c vellico-cli -n $run -l original -d 'Analyse the original library of a backup copy'
complete -c vellico-cli -n $run -l jobs -x -d 'Threads measuring folder sizes'
complete -c vellico-cli -n $run -s b -l bytes -d 'Write sizes as exact byte counts'
complete -c vellico-cli -n $run -l binary -d 'Write sizes in binary units (KiB, MiB, GiB)'
complete -c vellico-cli -n $run -l sort -x -a 'size\t"Largest first" name\t"By name"' -d 'Order of libraries and events'
complete -c vellico-cli -n $run -l color -x -a 'auto always never' -d 'Colour sizes and selection marks'
complete -c vellico-cli -n $run -s q -l quiet -d 'Write only errors and the summary'
complete -c vellico-cli -n $run -s v -l verbose -d 'Also write the path of every folder'
complete -c vellico-cli -n '__fish_seen_subcommand_from clean' -l dry-run -d 'Show what would be deleted, delete nothing'
complete -c vellico-cli -n '__fish_seen_subcommand_from clean' -s y -l yes -d 'Delete without asking'
