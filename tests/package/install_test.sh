#!/bin/bash
# Installs a tree configured with -DCMAKE_INSTALL_PREFIX=/usr into a staging
# folder (DESTDIR), as a distribution's build does, then checks what a
# consumer gets there: every installed header compiles with -I<prefix>/include
# alone, the version macros match the packages' version, and a small program
# builds and runs through find_package(SecPolicy) and through pkg-config.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/stage/usr
cxx=${CXX:-c++}
fail() { echo "FAIL: $*"; exit 1; }
step() { echo "--- $*"; }

step "DESTDIR=$work/stage cmake --install $build"
DESTDIR=$work/stage cmake --install "$build" >"$work/install.log"
libdir=$(dirname "$(find "$prefix" -name 'libsecpolicy.so' -print -quit)")
[[ $libdir == "$prefix/lib/$(gcc -print-multiarch)" ]] || fail "libraries in $libdir, not the multiarch libdir"
for file in bin/secpolicy bin/hostsim include/secpolicy/load/policy_load.h \
    include/secpolicy/platform/hyx_access.h include/secpolicy/version.h share/hostsim/default.json \
    share/bash-completion/completions/secpolicy share/bash-completion/completions/hostsim \
    share/man/man8/secpolicy.8.gz share/man/man8/hostsim.8.gz share/man/man5/secpolicy.5.gz; do
    [[ -e $prefix/$file ]] || fail "not installed: $file"
done
for internal in policytext/error_texts.h domains/rule_set_impl.h kernelcalls/kernel_call.h; do
    [[ ! -e $prefix/include/secpolicy/$internal ]] || fail "internal header installed: $internal"
done
# Debian's own files come with the packages only.
[[ ! -e $prefix/share/doc/libsecpolicy0 && ! -e $prefix/share/lintian ]] ||
    fail "package-only files in a plain install"

step "each installed header compiles on its own with -I<prefix>/include"
count=0
while read -r header; do
    echo "#include <secpolicy/${header#"$prefix/include/secpolicy/"}>" |
        "$cxx" -std=c++20 -fsyntax-only -Wall -Werror -I"$prefix/include" -x c++ - ||
        fail "$header does not compile alone"
    ((++count))
done < <(find "$prefix/include/secpolicy" -name '*.h' | sort)
echo "$count headers"

step "pkg-config and the version macros"
export PKG_CONFIG_PATH=$libdir/pkgconfig
read -ra pc_cflags <<<"$(pkg-config --cflags secpolicy)"
read -ra pc_libs <<<"$(pkg-config --libs secpolicy)"
[[ ${#pc_cflags[@]} == 1 && $(realpath -m "${pc_cflags[0]#-I}") == "$prefix/include" ]] ||
    fail "pkg-config --cflags gives '${pc_cflags[*]}'"
[[ ${#pc_libs[@]} == 3 && $(realpath -m "${pc_libs[0]#-L}") == "$libdir" &&
    "${pc_libs[*]:1}" == "-lsecpolicy -lhostsim" ]] || fail "pkg-config --libs gives '${pc_libs[*]}'"
version=$(printf '#include <secpolicy/version.h>\nSECPOLICY_VERSION_STRING SECPOLICY_VERSION_NUMBER\n' |
    "$cxx" -E -P -I"$prefix/include" -x c++ - | tail -n 1)
IFS=. read -r major minor patch <<<"$(pkg-config --modversion secpolicy)"
[[ $version == "\"$major.$minor.$patch\" ($major * 10000 + $minor * 100 + $patch)" ]] ||
    fail "version.h gives $version, pkg-config $major.$minor.$patch"

# A fresh simulated host from the staged tool, for the runtime call. The
# staged programs carry no run path (a /usr install needs none).
export HOSTSIM_STATE=$work/state.db HOSTSIM_SYSLOG=down LD_LIBRARY_PATH=$libdir
run_consumer() {
    "$prefix/bin/hostsim" init
    "$@" | tee "$work/consumer.out"
    grep -qx "consumer: ok" "$work/consumer.out" || fail "consumer"
    [[ $("$prefix/bin/hostsim" journal) == *consumerDom* ]] || fail "no domain in the journal"
}

step "consumer through find_package(SecPolicy)"
cmake -S "$here/consumer" -B "$work/consumer-cmake" -G Ninja \
    -DCMAKE_PREFIX_PATH="$prefix" >"$work/configure.log"
cmake --build "$work/consumer-cmake" >"$work/build.log"
run_consumer "$work/consumer-cmake/consumer"
# While the major version is 0, an older minor version is not compatible.
if ((major == 0 && minor > 0)); then
    ! cmake -S "$here/consumer" -B "$work/consumer-old" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
        -DSECPOLICY_WANTED=0.$((minor - 1)) >"$work/configure-old.log" 2>&1 ||
        fail "find_package(SecPolicy 0.$((minor - 1))) accepts $major.$minor"
    grep -q "version: $major.$minor.$patch" "$work/configure-old.log" ||
        fail "find_package(SecPolicy 0.$((minor - 1))) failed for another reason"
fi

step "consumer through pkg-config"
"$cxx" -std=c++20 "${pc_cflags[@]}" "$here/consumer/consumer.cc" "${pc_libs[@]}" -o "$work/consumer-pc"
run_consumer "$work/consumer-pc"
read -ra pc_admin <<<"$(pkg-config --cflags --libs secpolicy-admin)"
"$cxx" -std=c++20 -DCONSUMER_USES_ADMIN "$here/consumer/consumer.cc" "${pc_admin[@]}" -o "$work/consumer-pc-admin"
run_consumer "$work/consumer-pc-admin"

echo "install: 1 passed, 0 failed"
