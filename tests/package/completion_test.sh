#!/bin/bash
# The bash completions offer what the tools' --help lists: every command,
# every subcommand and every long option; and directories or files where a
# command takes a DIR or a PATH.
# Usage: completion_test.sh BIN_DIR COMPLETION_DIR
set -uo pipefail
bin=$1 completions=$2
. "$(dirname "$0")/help_lib.sh"
. "$completions/secpolicy"
. "$completions/hostsim"

failures=0 checked=0
fail() { echo "FAIL: $*"; ((failures++)); }

# complete TOOL WORD...: the candidates for the last word, sorted.
complete() {
    local tool=$1
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    "_$tool"
    printf '%s\n' "${COMPREPLY[@]}" | sort
}

# Commands and subcommands: exactly those of --help.
for tool in secpolicy hostsim; do
    ((checked++))
    [[ $(complete $tool "") == "$(help_subcommands "$bin/$tool" | cut -f1 | sort)" ]] ||
        fail "$tool: commands differ from --help"
    while IFS=$'\t' read -r path _; do
        read -ra words <<<"$path"
        subs=$(help_subcommands "$bin/$tool" "${words[@]}" | cut -f1 | sort)
        if [[ -n $subs ]]; then
            ((checked++))
            [[ $(complete $tool "${words[@]}" "") == "$subs" ]] ||
                fail "$tool $path: subcommands differ from --help"
        fi
        offered=$(complete $tool "${words[@]}" "-")
        while read -r option; do
            ((checked++))
            grep -qx -- "$option" <<<"$offered" || fail "$tool $path: $option not offered"
        done < <(help_long_options "$bin/$tool" "${words[@]}")
    done < <(help_command_paths "$bin/$tool")
done

# Files and directories, in a scratch folder holding one of each.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/pdir"
touch "$scratch/pfile"
cd "$scratch"
while IFS='|' read -r expected words; do
    ((checked++))
    read -ra argv <<<"$words"
    [[ $words == *" " ]] && argv+=("")
    got=$(complete "${argv[@]}" | tr '\n' ' ' | sed 's/ $//')
    [[ $got == "$expected" ]] || fail "'$words': got '$got', expected '$expected'"
done <<'TABLE'
pdir|secpolicy load-domains p
pdir|secpolicy load p
pdir|secpolicy load-tardisks p
pdir pfile|secpolicy label get p
pdir pfile|secpolicy label set -r p
|secpolicy label set pfile p
pdir pfile|secpolicy file-policy add 0 2 p
|secpolicy file-policy add 0 2 /x p
pdir pfile|secpolicy file-policy add 0 2 /x rw p
pdir pfile|secpolicy file-policy replace p
pdir pfile|hostsim init --profile p
pdir|hostsim run --root p
pdir pfile|hostsim label-init -r pdir p
clear|hostsim fail c
TABLE
((checked++))
complete hostsim run --root pdir -- bas | grep -qx bash || fail "hostsim run: no command offered"

echo "$((checked - failures)) passed, $failures failed"
((failures == 0))
