#!/bin/bash
# Checks the installed programs and libraries under PREFIX (bin/, lib/...):
# full RELRO (a GNU_RELRO segment and immediate binding), stack protector,
# PIE programs, fortified libc calls, and libraries that export their own
# namespaces only (no standard library or nlohmann-json template instances).
# Control-flow protection is checked with the debug files
# (debug_info_test.sh).
# Usage: hardening_test.sh PREFIX
set -uo pipefail
prefix=$1
# shellcheck source=check_lib.sh
source "$(dirname "$0")/check_lib.sh"

mapfile -t programs < <(find "$prefix/bin" -type f -perm -u+x | sort)
mapfile -t libraries < <(find "$prefix/lib" -path "$prefix/lib/debug" -prune -o \
    -type f -name 'lib*.so.*' -print | sort)
((${#programs[@]} == 2 && ${#libraries[@]} >= 2)) ||
    { echo "FAIL: expected 2 programs and 2 or more libraries under $prefix"; exit 1; }

chk_imports=0
for binary in "${programs[@]}" "${libraries[@]}"; do
    name=${binary#"$prefix/"}
    dynamic=$(readelf -dW "$binary")
    imports=$(readelf --dyn-syms -W "$binary" | awk '$7 == "UND" { sub(/@.*/, "", $8); print $8 }')
    check "$name: GNU_RELRO segment" bash -c "readelf -lW '$binary' | grep -q GNU_RELRO"
    check "$name: immediate binding" grep -qE '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW' <<<"$dynamic"
    check "$name: stack protector" grep -qx __stack_chk_fail <<<"$imports"
    grep -q '^__.*_chk$' <<<"$imports" && ((++chk_imports))
done
check "fortified libc calls in the binaries" test "$chk_imports" -gt 0
for program in "${programs[@]}"; do
    check "${program#"$prefix/"}: position independent" bash -c \
        "readelf -hW '$program' | grep -q 'Type: *DYN' && readelf -dW '$program' | grep -q 'FLAGS_1.*PIE'"
done

# Every exported definition belongs to one of the library's namespaces, as
# itself or as its type information, vtable or thunk.
exported() { nm -D --defined-only "$1" | c++filt | cut -d' ' -f3-; }
own() {  # namespaces...
    local names
    names=$(IFS='|'; echo "$*")
    grep -vE "^((typeinfo|typeinfo name|vtable|VTT|construction vtable) for |(non-)?virtual thunk to )?($names)"
}
for library in "${libraries[@]}"; do
    case ${library##*/} in
        libsecpolicy.so.* | libsecpolicy-admin.so.*) foreign=$(exported "$library" | own 'SecPolicy::') ;;
        libhostsim.so.*) foreign=$(exported "$library" |
            own 'HyxCtl::' 'HostCtl::' 'PalConfigStore::' 'HostSim::' 'File_' 'QSI_NODE_') ;;
    esac
    check "${library##*/} exports only its namespaces; also: $(head -c 300 <<<"$foreign")" test -z "$foreign"
done
# The API stays exported.
secpolicy_lib=$(printf '%s\n' "${libraries[@]}" | grep '/libsecpolicy\.so')
for function in LoadPolicyEarly LoadPolicy DisplayPolicy RestoreDomainEnforcement CreateDomain \
    AddFilePolicyBatch SetCapRule ParseFile DomainPolicy::ParsePolicy; do
    check "libsecpolicy exports SecPolicy::$function" \
        bash -c "nm -D --defined-only '$secpolicy_lib' | c++filt | grep -q ' T SecPolicy::$function('"
done

check_summary hardening
