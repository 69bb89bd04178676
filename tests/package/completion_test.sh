#!/bin/bash
# The bash completions offer what the tools' --help lists: every command,
# every subcommand and every long option; directories or files where a
# command takes a DIR or a PATH; and live values: domain ids and names, object
# labels, fault operations, and secpolicy's own completion after
# `hostsim run ... --`.
# Usage: completion_test.sh BIN_DIR COMPLETION_DIR
set -uo pipefail
bin=$(cd "$1" && pwd) completions=$(cd "$2" && pwd)
. "$(dirname "$0")/help_lib.sh"
. "$completions/secpolicy"
. "$completions/hostsim"

failures=0 checked=0
fail() { echo "FAIL: $*"; ((failures++)); }

# candidates TOOL WORD...: the candidates for the last word, sorted.
candidates() {
    local tool=$1
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="$*" COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    "_$tool"
    printf '%s\n' "${COMPREPLY[@]}" | sort
}

# Commands and subcommands: exactly those of --help.
for tool in secpolicy hostsim; do
    ((checked++))
    [[ $(candidates $tool "") == "$(help_subcommands "$bin/$tool" | cut -f1 | sort)" ]] ||
        fail "$tool: commands differ from --help"
    while IFS=$'\t' read -r path _; do
        read -ra words <<<"$path"
        subs=$(help_subcommands "$bin/$tool" "${words[@]}" | cut -f1 | sort)
        if [[ -n $subs ]]; then
            ((checked++))
            [[ $(candidates $tool "${words[@]}" "") == "$subs" ]] ||
                fail "$tool $path: subcommands differ from --help"
        fi
        offered=$(candidates $tool "${words[@]}" "-")
        while read -r option; do
            ((checked++))
            grep -qx -- "$option" <<<"$offered" || fail "$tool $path: $option not offered"
        done < <(help_long_options "$bin/$tool" "${words[@]}")
    done < <(help_command_paths "$bin/$tool")
done

# A scratch folder holding a directory and a file, a fresh simulated host
# with two objects, and stand-ins on PATH for the two listings the live
# values come from (`secpolicy domain list`, `hostsim fail --list`), with
# fixed answers, noise on stderr, and a hang on request. Everything else
# goes to the real tools.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/pdir" "$scratch/objects" "$scratch/stubs"
touch "$scratch/pfile"
printf 'vmObject\nvmDisk\n' >"$scratch/objects/vms"
export HOSTSIM_STATE=$scratch/state.db HOSTSIM_SYSLOG=down
"$bin/hostsim" init && "$bin/secpolicy" load-objects "$scratch/objects" >/dev/null ||
    fail "no simulated host with objects"
cat >"$scratch/stubs/secpolicy" <<STUB
#!/bin/bash
if [[ "\$1 \$2" == "domain list" ]]; then
    echo "noise on stderr" >&2
    [[ -n \${STUB_HANG-} ]] && sleep 30
    printf '2\\tappDom\\n3\\tnetd\\n17\\tvm\\\\x1bname\\n18\\ta b\\n19\\tapp;\$(x)\\n'
    exit 0
fi
exec "$bin/secpolicy" "\$@"
STUB
cat >"$scratch/stubs/hostsim" <<STUB
#!/bin/bash
if [[ "\$1 \$2" == "fail --list" ]]; then
    echo "noise on stderr" >&2
    printf 'CreateDomain\\nSetSyscallRule\\ncreate_domain\\n'
    exit 0
fi
exec "$bin/hostsim" "\$@"
STUB
chmod +x "$scratch/stubs/secpolicy" "$scratch/stubs/hostsim"
real_path=$PATH
PATH=$scratch/stubs:$PATH
cd "$scratch"

# expected|words: the candidates for the last word, sorted, on one line.
check_table() {
    while IFS='|' read -r expected words; do
        ((checked++))
        read -ra argv <<<"$words"
        [[ $words == *" " ]] && argv+=("")
        got=$(candidates "${argv[@]}" 2>"$scratch/stderr" | tr '\n' ' ' | sed 's/ $//')
        [[ $got == "$expected" ]] || fail "'$words': got '$got', expected '$expected'"
        [[ ! -s $scratch/stderr ]] || fail "'$words': wrote to stderr: $(head -c 200 "$scratch/stderr")"
    done
}
check_table <<'TABLE'
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
clear create_domain|hostsim fail c
CreateDomain|hostsim fail C
17 18 19|secpolicy domain destroy 1
17 18 19|secpolicy cap set 1
17 18 19 2 3|secpolicy file-policy add 0 
2|secpolicy display 2
|secpolicy cap set 2 
pdir pfile|secpolicy file-policy update 2 p
appDom app\;\$\(x\)|secpolicy domain id a
netd|secpolicy domain id n
vmDisk vmObject|secpolicy label set pfile vm
systemBinary systemConfig systemFile|secpolicy label set -r pdir sys
|secpolicy label set pfile vmObject x
TABLE
((checked++))
candidates hostsim run --root pdir -- bas | grep -qx bash || fail "hostsim run: no command offered"

# After `hostsim run ... --` the command's own completion takes over, with
# bash-completion's _command_offset when it is loaded and without it.
delegated() {
    check_table <<'TABLE'
load load-domains load-early load-file-labels load-objects load-tardisks|hostsim run --root pdir -- secpolicy load
pdir|hostsim run -- secpolicy load p
17 18 19 2 3|hostsim run --root pdir -- secpolicy domain name 
vmDisk vmObject|hostsim run -- secpolicy label set pfile v
TABLE
}
delegated
if [[ -r /usr/share/bash-completion/bash_completion ]]; then
    # Sourced in a subshell, so the rest of the test runs without it.
    result=$(
        failures=0 checked=0
        . /usr/share/bash-completion/bash_completion
        . "$completions/secpolicy"
        . "$completions/hostsim"
        declare -F _command_offset >/dev/null || fail "bash-completion has no _command_offset"
        delegated
        echo "$checked $failures"
    )
    echo "${result%$'\n'*}" | grep -v '^[0-9]* [0-9]*$'
    read -r more_checked more_failures <<<"${result##*$'\n'}"
    ((checked += more_checked, failures += more_failures))
else
    echo "skipped: the cases under bash-completion (not installed)"
fi

# A listing that hangs (a locked state) costs the shell at most its bound.
((checked++))
started=$SECONDS
got=$(STUB_HANG=1 candidates secpolicy domain destroy "")
[[ -z $got && $((SECONDS - started)) -le 5 ]] ||
    fail "a hanging listing: '$got' after $((SECONDS - started)) s"

# The real listing, once the tool has it.
PATH=$real_path
if id=$("$bin/secpolicy" domain create realDom 2>/dev/null) && "$bin/secpolicy" domain list >/dev/null 2>&1; then
    ((checked++))
    PATH=$bin:$PATH
    candidates secpolicy domain destroy "" | grep -qx "$id" || fail "real domain list: $id not offered"
    candidates secpolicy domain id real | grep -qx realDom || fail "real domain list: realDom not offered"
else
    echo "skipped: live values from the real 'secpolicy domain list' (not in this build)"
fi
if operation=$("$bin/hostsim" fail --list 2>/dev/null | head -n 1) && [[ -n $operation ]]; then
    ((checked++))
    PATH=$bin:$real_path
    candidates hostsim fail "" | grep -qxF -- "$operation" || fail "real fail --list: $operation not offered"
else
    echo "skipped: live values from the real 'hostsim fail --list' (not in this build)"
fi

echo "$((checked - failures)) passed, $failures failed"
((failures == 0))
