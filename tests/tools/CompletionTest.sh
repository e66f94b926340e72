#!/bin/bash
# The bash completion offers what v38ctl's help lists: every command, and for each
# command exactly the options it takes (the help's "(probe, ports, ...)" lines).
# Usage: CompletionTest.sh V38CTL COMPLETION
set -u
v38ctl=$1
source "$2"
failures=0

complete_line() {
    COMP_LINE="$1"
    read -r -a COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _v38ctl
    printf '%s\n' "${COMPREPLY[@]}" | sort
}

expect() {
    if [[ "$2" != "$3" ]]; then
        echo "FAIL $1: completion offers [$(echo $2)], expected [$(echo $3)]"
        failures=$((failures + 1))
    fi
}

help=$(LC_ALL=C "$v38ctl" --help)
commands=$(sed -n '/^Commands:/,/^$/p' <<<"$help" | awk 'NF && !/:$/ {print $1}' | sort)
expect "commands" "$(complete_line 'v38ctl ')" "$commands"

for command in $commands; do
    # An option line, then the line listing the commands that take it.
    wanted=$( (echo --help; echo --version
        sed -n '/^Options/,/^$/p' <<<"$help" | awk '
            /^  +-/ { option = $1 ~ /^--/ ? $1 : $2; sub(/,$/, "", option) }
            /^ +\(/ { gsub(/[(),]/, " "); for (i = 1; i <= NF; i++) if ($i == "'"$command"'") print option }'
        ) | sort)
    expect "$command options" "$(complete_line "v38ctl $command --")" "$wanted"
done

folder=$(mktemp -d)
touch "$folder/backup.bin"
expect "files" "$(cd "$folder" && complete_line 'v38ctl show ba')" "backup.bin"
expect "no file for probe" "$(complete_line 'v38ctl probe ')" ""
expect "ports" "$(V38_PORTS=/dev/null complete_line 'v38ctl read --port COM1')" \
    "$(printf 'COM1\nCOM10\nCOM11\nCOM12\nCOM13\nCOM14\nCOM15\nCOM16' | sort)"
expect "devices" "$(V38_PORTS=/dev/null:/dev/zero complete_line 'v38ctl -P /dev/')" \
    "$(printf '/dev/null\n/dev/zero')"
rm -rf "$folder"
echo "$failures failures"
exit $((failures > 0))
