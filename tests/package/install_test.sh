#!/bin/bash
# Installs a built tree into a staging prefix, then checks what a consumer
# gets there: every installed header compiles on its own, and a small program
# builds and runs through find_package(SecPolicy) and through pkg-config.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage
cxx=${CXX:-c++}

step() { echo "--- $*"; }

step "cmake --install $build --prefix $stage"
cmake --install "$build" --prefix "$stage" >"$work/install.log"
libdir=$(dirname "$(find "$stage" -name 'libsecpolicy.so' -print -quit)")
for file in bin/secpolicy bin/hostsim include/secpolicy/load/policy_load.h \
    include/secpolicy/platform/hyx_access.h share/hostsim/default.json \
    share/bash-completion/completions/secpolicy share/bash-completion/completions/hostsim \
    share/man/man8/secpolicy.8.gz share/man/man8/hostsim.8.gz share/man/man5/secpolicy.5.gz; do
    [[ -e $stage/$file ]] || { echo "FAIL: not installed: $file"; exit 1; }
done
for internal in policytext/error_texts.h domains/rule_set_impl.h kernelcalls/kernel_call.h; do
    [[ ! -e $stage/include/secpolicy/$internal ]] || { echo "FAIL: internal header installed: $internal"; exit 1; }
done
[[ $(readelf -d "$libdir/libsecpolicy.so" | grep SONAME) == *"[libsecpolicy.so.0]"* ]] ||
    { echo "FAIL: libsecpolicy.so has no SONAME libsecpolicy.so.0"; exit 1; }

step "each installed header compiles on its own"
cflags=(-std=c++20 -fsyntax-only -Wall -Werror -I"$stage/include" -I"$stage/include/secpolicy")
count=0
while read -r header; do
    echo "#include <secpolicy/${header#"$stage/include/secpolicy/"}>" |
        "$cxx" "${cflags[@]}" -x c++ - || { echo "FAIL: $header does not compile alone"; exit 1; }
    ((++count))
done < <(find "$stage/include/secpolicy" -name '*.h' | sort)
echo "$count headers"

# A fresh simulated host from the staged tool, for the runtime call.
export HOSTSIM_STATE=$work/state.db HOSTSIM_SYSLOG=down
run_consumer() {
    "$stage/bin/hostsim" init
    "$@" | tee "$work/consumer.out"
    grep -qx "consumer: ok" "$work/consumer.out"
    [[ $("$stage/bin/hostsim" journal) == *consumerDom* ]] || { echo "FAIL: no domain in the journal"; exit 1; }
}

step "consumer through find_package(SecPolicy)"
cmake -S "$here/consumer" -B "$work/consumer-cmake" -G Ninja \
    -DCMAKE_PREFIX_PATH="$stage" >"$work/configure.log"
cmake --build "$work/consumer-cmake" >"$work/build.log"
run_consumer "$work/consumer-cmake/consumer"

step "consumer through pkg-config"
export PKG_CONFIG_PATH=$libdir/pkgconfig
read -ra pc_cflags <<<"$(pkg-config --cflags secpolicy)"
read -ra pc_libs <<<"$(pkg-config --libs secpolicy)"
"$cxx" -std=c++20 "${pc_cflags[@]}" "$here/consumer/consumer.cc" "${pc_libs[@]}" \
    -Wl,-rpath,"$libdir" -o "$work/consumer-pc"
run_consumer "$work/consumer-pc"

step "staged tools run from the prefix"
"$stage/bin/secpolicy" --help >/dev/null
env -u LD_LIBRARY_PATH "$stage/bin/secpolicy" domain name 2 | grep -qx consumerDom

echo "install: 1 passed, 0 failed"
