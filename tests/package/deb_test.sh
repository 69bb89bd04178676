#!/bin/bash
# Builds the Debian packages of a tree configured with
# -DCMAKE_INSTALL_PREFIX=/usr, checks their control data and contents, runs
# lintian on them, installs them together into a scratch root with dpkg and
# runs the tools, the hardening checks and the debug symbol checks there.
# The machine's own system is never touched.
# Usage: deb_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=check_lib.sh
source "$(dirname "$0")/check_lib.sh"

echo "--- cpack in $build"
(cd "$build" && cpack -B "$work/debs" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
debs=("$work"/debs/*.deb)
ddebs=("$work"/debs/*.ddeb)
printf "%s\n" "${debs[@]##*/}" "${ddebs[@]##*/}"
version=$(dpkg-deb -f "$work/debs/secpolicy_"*.deb Version)
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
deb() { echo "$work/debs/${1}_${version}_${arch}.deb"; }
ddeb() { echo "$work/debs/${1}-dbgsym_${version}_${arch}.ddeb"; }
packages=(libsecpolicy0 libhostsim0 libsecpolicy-dev secpolicy hostsim)
libraries=(libsecpolicy0 libhostsim0 libsecpolicy-dev)
binaries=(libsecpolicy0 libhostsim0 secpolicy hostsim)
for package in "${packages[@]}"; do
    check "package $package built" test -f "$(deb $package)"
done
for package in "${binaries[@]}"; do
    check "package $package-dbgsym built" test -f "$(ddeb $package)"
done
check "five packages and four -dbgsym, no more" test ${#debs[@]} -eq 5 -a ${#ddebs[@]} -eq 4

echo "--- control data"
field() { dpkg-deb -f "$(deb "$1")" "$2"; }
while IFS='|' read -r package name pattern; do
    check "$package $name: $pattern" grep -qE -- "$pattern" <<<"$(field "$package" "$name")"
done <<TABLE
libsecpolicy0|Depends|(^|, )libhostsim0 \(= $version\)
libsecpolicy0|Depends|libstdc\+\+6
libsecpolicy0|Section|^libs$
libhostsim0|Depends|libsqlite3-0
libhostsim0|Section|^libs$
libsecpolicy-dev|Depends|(^|, )libsecpolicy0 \(= $version\)
libsecpolicy-dev|Depends|(^|, )libhostsim0 \(= $version\)
libsecpolicy-dev|Section|^libdevel$
secpolicy|Depends|(^|, )libsecpolicy0 \(= $version\)
secpolicy|Depends|(^|, )hostsim \(= $version\)
secpolicy|Suggests|^bash-completion$
hostsim|Depends|(^|, )libhostsim0 \(= $version\)
hostsim|Suggests|^bash-completion$
hostsim|Maintainer|^[^<]+ <[^@<>]+@[^@<>]+\.[a-z]+>$
TABLE
for package in "${libraries[@]}"; do
    check "$package depends on no tool package" \
        bash -c "! dpkg-deb -f '$(deb "$package")' Depends | grep -qE '(^|, )(secpolicy|hostsim)( |,|$)'"
done
for package in "${binaries[@]}"; do
    while IFS='|' read -r name pattern; do
        check "$package-dbgsym $name: $pattern" \
            grep -qE -- "$pattern" <<<"$(dpkg-deb -f "$(ddeb "$package")" "$name")"
    done <<TABLE
Package|^$package-dbgsym$
Depends|^$package \(= $version\)$
Section|^debug$
Build-Ids|^[0-9a-f]{40}( [0-9a-f]{40})*$
TABLE
done
check "no maintainer address on localhost" bash -c "! dpkg-deb -f '$(deb secpolicy)' Maintainer | grep -q localhost"
for package in "${packages[@]}"; do
    scripts=$(dpkg-deb --ctrl-tarfile "$(deb $package)" | tar -t | sed 's|^\./||' | sort | tr '\n' ' ')
    case $package in
        libsecpolicy0 | libhostsim0) wanted="control md5sums shlibs triggers " ;;
        *) wanted="control md5sums " ;;
    esac
    check "$package control files: '$scripts' (no maintainer scripts)" test "$scripts" == " $wanted"
done
for package in libsecpolicy0 libhostsim0; do
    check "$package activates the ldconfig trigger" \
        test "$(dpkg-deb -I "$(deb $package)" triggers)" == "activate-noawait ldconfig"
done
check "apt can install the five together here" \
    bash -c "apt-get install -s -q $(printf "'%s' " "${debs[@]}") 2>/dev/null | grep -c '^Inst \(libsecpolicy0\|libhostsim0\|libsecpolicy-dev\|secpolicy\|hostsim\) ' | grep -qx 5"

echo "--- contents"
for package in "${packages[@]}"; do
    dpkg-deb -c "$(deb $package)" >"$work/$package.list"
done
while IFS='|' read -r package path; do
    check "$package holds $path" grep -q " \.$path\( ->\|$\)" "$work/$package.list"
done <<TABLE
libsecpolicy0|/usr/lib/$multiarch/libsecpolicy.so.0
libsecpolicy0|/usr/lib/$multiarch/libsecpolicy.so.0.1.0
libsecpolicy0|/usr/lib/$multiarch/libsecpolicy-admin.so.0
libhostsim0|/usr/lib/$multiarch/libhostsim.so.0
libhostsim0|/usr/lib/$multiarch/libhostsim.so.0.1.0
hostsim|/usr/bin/hostsim
hostsim|/usr/share/hostsim/default.json
hostsim|/usr/share/man/man8/hostsim.8.gz
hostsim|/usr/share/bash-completion/completions/hostsim
secpolicy|/usr/bin/secpolicy
secpolicy|/usr/share/man/man8/secpolicy.8.gz
secpolicy|/usr/share/man/man5/secpolicy.5.gz
secpolicy|/usr/share/bash-completion/completions/secpolicy
secpolicy|/usr/share/doc/secpolicy/README.md
libsecpolicy-dev|/usr/lib/$multiarch/libsecpolicy.so
libsecpolicy-dev|/usr/lib/$multiarch/libhostsim.so
libsecpolicy-dev|/usr/include/secpolicy/load/policy_load.h
libsecpolicy-dev|/usr/include/secpolicy/version.h
libsecpolicy-dev|/usr/lib/$multiarch/cmake/SecPolicy/SecPolicyConfig.cmake
libsecpolicy-dev|/usr/lib/$multiarch/pkgconfig/secpolicy.pc
TABLE
for package in "${packages[@]}"; do
    for file in copyright changelog.Debian.gz; do
        check "$package holds its $file" grep -q " \./usr/share/doc/$package/$file$" "$work/$package.list"
    done
    check "$package: everything owned by root" \
        bash -c "! awk '{print \$2}' '$work/$package.list' | grep -vqx root/root"
done
check "the changelog's first entry is this version" bash -c \
    "dpkg-deb --fsys-tarfile '$(deb libsecpolicy0)' | tar -xO ./usr/share/doc/libsecpolicy0/changelog.Debian.gz |
     gzip -dc | head -n 1 | grep -qF 'secpolicy ($version) '"
check "the copyright names the upstream contact" bash -c \
    "dpkg-deb --fsys-tarfile '$(deb libhostsim0)' | tar -xO ./usr/share/doc/libhostsim0/copyright |
     grep -qE '^Upstream-Contact: [^<]+ <[^@<>]+@[^@<>]+>$'"

echo "--- lintian"
if lintian --fail-on error,warning --tag-display-limit 0 "${debs[@]}" "${ddebs[@]}" >"$work/lintian.out" 2>&1; then
    check "lintian: every override still used" bash -c "! grep -q 'unused-override\|mismatched-override' '$work/lintian.out'"
else
    ((++checked, ++failures))
    echo "FAIL: lintian reports errors or warnings:"
    grep -v '^running with root' "$work/lintian.out"
fi

echo "--- the five installed together into a scratch root, with their -dbgsym"
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
# The root holds none of the system libraries, hence --force-depends; dpkg
# still refuses any file that two packages both ship.
check "dpkg installs them into the root" bash -c \
    "dpkg --root='$root' --log=/dev/null --force-depends --force-not-root -i $(printf "'%s' " "${debs[@]}" "${ddebs[@]}") >'$work/dpkg.log' 2>&1 || { cat '$work/dpkg.log'; false; }"
export LD_LIBRARY_PATH=$root/usr/lib/$multiarch HOSTSIM_STATE=$work/state.db
check "libsecpolicy found in the root" \
    bash -c "ldd '$root/usr/bin/secpolicy' | grep -q 'libsecpolicy.so.0 => $root/usr/lib/$multiarch/'"
"$root/usr/bin/secpolicy" --help >"$work/help"
check "secpolicy --help lists the commands" grep -q "^  load-domains " "$work/help"
check "hostsim init" "$root/usr/bin/hostsim" init
check "secpolicy domain create" \
    bash -c "[[ \$('$root/usr/bin/secpolicy' domain create debDom) =~ ^[0-9]+\$ ]]"
page=$(MANWIDTH=200 LC_ALL=C man -l "$root/usr/share/man/man8/secpolicy.8.gz" 2>/dev/null | col -bx)
check "secpolicy.8 renders its commands" grep -q "^ *load-domains DIR" <<<"$page"
check "secpolicy.8 renders the environment" grep -q "^ *HOSTSIM_STATE" <<<"$page"
check "secpolicy.8's footer names the version" grep -qE "^secpolicy ${version%-*} +[0-9]{4}-" <<<"$(tail -n 1 <<<"$page")"

echo "--- hardening and debug information of the installed binaries"
check "hardening" "$here/hardening_test.sh" "$root/usr"
check "debug information" "$here/debug_info_test.sh" "$root/usr"

check_summary deb
