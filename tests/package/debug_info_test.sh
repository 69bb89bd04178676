#!/bin/bash
# Checks the installed programs and libraries under PREFIX against the debug
# files the -dbgsym packages put under PREFIX/lib/debug: each binary carries a
# build ID and no debug information of its own, and the debug file named by
# that ID holds the debug information, of the same build ID, compiled with
# the distribution's flags, and, on x86, control-flow protection in the code.
# Usage: debug_info_test.sh PREFIX
set -uo pipefail
prefix=$1
# shellcheck source=check_lib.sh
source "$(dirname "$0")/check_lib.sh"

mapfile -t binaries < <({ find "$prefix/bin" -type f -perm -u+x
                          find "$prefix/lib" -path "$prefix/lib/debug" -prune -o \
                              -type f -name 'lib*.so.*' -print; } | sort)
((${#binaries[@]} >= 4)) || { echo "FAIL: ${#binaries[@]} binaries under $prefix"; exit 1; }

case $(uname -m) in x86_64 | i?86) cet=yes ;; *) cet=no ;; esac

build_id() { readelf -nW "$1" 2>/dev/null | grep -o 'Build ID: [0-9a-f]*' | cut -d' ' -f3; }
sections() { readelf -SW "$1" 2>/dev/null | grep -oE '\.(debug_info|gnu_debuglink|symtab) '; }
# The compiler's command line, which GCC records in each unit's producer.
producers() { readelf -p .debug_str -p .debug_line_str "$1" 2>/dev/null | grep -o 'GNU C[+0-9]* .*' | sort -u; }

for binary in "${binaries[@]}"; do
    name=${binary#"$prefix/"}
    id=$(build_id "$binary")
    check "$name: a build ID" grep -qE '^[0-9a-f]{40}$' <<<"$id"
    check "$name: stripped, with a link to its debug file" \
        test "$(sections "$binary" | sort | tr -d '\n')" == ".gnu_debuglink "
    debug=$prefix/lib/debug/.build-id/${id:0:2}/${id:2}.debug
    check "$name: its debug file ${debug#"$prefix/"}" test -f "$debug"
    [[ -f $debug ]] || continue
    check "$name: the debug file has the same build ID" test "$(build_id "$debug")" == "$id"
    check "$name: the debug file holds the debug information" grep -q '\.debug_info' <<<"$(sections "$debug")"
    flags=$(producers "$debug")
    for flag in -O2 -g -fstack-protector-strong -fcf-protection; do
        check "$name: built with $flag" grep -qE -- " $flag( |=|$)" <<<"$flags"
    done
    check "$name: not built with -O3" bash -c "! grep -q -- ' -O3' <<<'$flags'"
    # The linker marks no binary as CET-ready while the C library's startup
    # files lack the mark (Debian 12), so the code itself is looked at: with
    # -fcf-protection nearly every function begins with endbr64, without it
    # only a couple of startup stubs do.
    if [[ $cet == yes ]]; then
        functions=$(readelf -sW "$debug" 2>/dev/null | awk '$4 == "FUNC" && $3 > 0 && $7 != "UND"' | wc -l)
        landings=$(objdump -d --no-show-raw-insn "$binary" | grep -c $'\tendbr64')
        check "$name: endbr64 landings ($landings) for its $functions functions" \
            test $((landings * 2)) -ge "$functions"
    fi
done

check_summary debug
