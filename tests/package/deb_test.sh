#!/bin/bash
# Builds the Debian package of a built tree with CPack, checks its control
# data and contents, and runs the tools from a scratch root it is unpacked
# into. The package is never installed into the machine itself.
# Usage: deb_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 checked=0
check() {  # description, command...
    local what=$1
    shift
    ((++checked))
    "$@" || { echo "FAIL: $what"; ((++failures)); }
}

echo "--- cpack in $build"
rm -f "$build"/secpolicy_*.deb
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$build"/secpolicy_*.deb)
echo "$deb"

echo "--- control data"
dpkg-deb -f "$deb" Package Version Depends >"$work/control"
check "package name" grep -qx "Package: secpolicy" "$work/control"
check "dependency on SQLite" grep -q "^Depends:.*libsqlite3-0" "$work/control"
check "dependency on the C++ runtime" grep -q "^Depends:.*libstdc++6" "$work/control"
check "apt can install it here" \
    bash -c "apt-get install -s -q '$deb' 2>/dev/null | grep -q '^Inst secpolicy'"

echo "--- contents (dpkg-deb -c)"
dpkg-deb -c "$deb" >"$work/contents"
awk '{print $6}' "$work/contents" | sed 's|^\./|/|' >"$work/paths"
for path in /usr/bin/secpolicy /usr/bin/hostsim \
    /usr/lib/libsecpolicy.so.0 /usr/lib/libsecpolicy.so.0.1.0 /usr/lib/libhostsim.so.0 \
    /usr/include/secpolicy/load/policy_load.h /usr/include/secpolicy/platform/hyx_access.h \
    /usr/lib/cmake/SecPolicy/SecPolicyConfig.cmake /usr/lib/pkgconfig/secpolicy.pc \
    /usr/share/man/man8/secpolicy.8.gz /usr/share/man/man8/hostsim.8.gz \
    /usr/share/man/man5/secpolicy.5.gz /usr/share/hostsim/default.json \
    /usr/share/bash-completion/completions/secpolicy \
    /usr/share/bash-completion/completions/hostsim /usr/share/doc/secpolicy/README.md; do
    check "package holds $path" grep -qx -- "$path" "$work/paths"
done
check "no internal header" bash -c "! grep -q 'error_texts.h\|rule_set_impl.h\|kernel_call.h' '$work/paths'"
check "everything owned by root" bash -c "! awk '{print \$2}' '$work/contents' | grep -vqx root/root"

echo "--- tools from the unpacked tree"
root=$work/root
dpkg-deb -x "$deb" "$root"
# Resolved inside the tree through the tools' own run path, not the machine's.
check "libsecpolicy found in the tree" \
    bash -c "ldd '$root/usr/bin/secpolicy' | grep -q 'libsecpolicy.so.0 => $root/usr/bin/../lib/'"
"$root/usr/bin/secpolicy" --help >"$work/help"
check "secpolicy --help lists the commands" grep -q "^  load-domains " "$work/help"
export HOSTSIM_STATE=$work/state.db
check "hostsim init" "$root/usr/bin/hostsim" init
check "secpolicy domain create" \
    bash -c "[[ \$('$root/usr/bin/secpolicy' domain create debDom) =~ ^[0-9]+\$ ]]"
page=$(MANWIDTH=200 LC_ALL=C man -l "$root/usr/share/man/man8/secpolicy.8.gz" 2>/dev/null | col -bx)
check "secpolicy.8 renders its commands" grep -q "^ *load-domains DIR" <<<"$page"
check "secpolicy.8 renders the exit statuses" grep -q "^EXIT STATUS" <<<"$page"
check "secpolicy.8 renders the environment" grep -q "^ *HOSTSIM_STATE" <<<"$page"

echo "deb: $((checked - failures)) passed, $failures failed"
((failures == 0))
