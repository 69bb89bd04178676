#!/bin/bash
# Every command of a tool's --help, with its description and long options,
# appears in the tool's built man page.
# Usage: help_matches_man.sh TOOL_BINARY MAN_PAGE
set -uo pipefail
tool=$1 page=$2
. "$(dirname "$0")/help_lib.sh"

text=$(MANWIDTH=10000 LC_ALL=C man -l "$page" 2>/dev/null | col -bx | squeeze)
[[ -n $text ]] || { echo "FAIL: $page renders to nothing"; exit 1; }

failures=0 checked=0
expect() {  # what, text
    ((checked++))
    if [[ $text != *"$2"* ]]; then
        echo "FAIL: $page lacks $1: $2"
        ((failures++))
    fi
}

while IFS=$'\t' read -r path desc; do
    expect "command" "$path"
    expect "the description of '$path'" "$(squeeze <<<"$desc")"
    read -ra words <<<"$path"
    while read -r option; do
        expect "option of '$path'" "$option"
    done < <(help_long_options "$tool" "${words[@]}")
done < <(help_command_paths "$tool")

for section in "EXIT STATUS" "ENVIRONMENT" "HOSTSIM_STATE" "HOSTSIM_SYSLOG"; do
    expect "section" "$section"
done
for status in 0 1 2; do
    [[ $(MANWIDTH=200 LC_ALL=C man -l "$page" 2>/dev/null | col -bx |
        sed -n '/^EXIT STATUS/,/^[A-Z]/p' | grep -c "^ *$status$") -eq 1 ]] ||
        { echo "FAIL: $page: no exit status $status"; ((failures++)); }
done

((checked > 20)) || { echo "FAIL: only $checked checks: is --help still parsed?"; exit 1; }
echo "$((checked - failures)) passed, $failures failed"
((failures == 0))
