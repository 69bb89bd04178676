#!/bin/bash
# Two build trees of one commit give the same .deb and -dbgsym .ddeb bytes:
# packs each and compares the packages, naming the files that differ when
# they do (a debug file that differs changes its build ID, hence its name).
# Usage: reproducible_test.sh BUILD_DIR OTHER_BUILD_DIR
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for tree in a b; do
    [[ $tree == a ]] && build=$1 || build=$2
    (cd "$build" && cpack -B "$work/$tree" >"$work/$tree.log" 2>&1) || { cat "$work/$tree.log"; exit 1; }
done
failures=0 checked=0
for deb in "$work"/a/*.deb "$work"/a/*.ddeb; do
    name=${deb##*/}
    ((++checked))
    if ! cmp -s "$deb" "$work/b/$name"; then
        ((++failures))
        echo "FAIL: $name differs between $1 and $2"
        for tree in a b; do
            mkdir -p "$work/$tree-x"
            dpkg-deb -R "$work/$tree/$name" "$work/$tree-x/$name"
        done
        diff -rq "$work/a-x/$name" "$work/b-x/$name" || true
        dpkg-deb -c "$work/a/$name" >"$work/a.list"; dpkg-deb -c "$work/b/$name" >"$work/b.list"
        diff "$work/a.list" "$work/b.list" | head -n 10 || true
    fi
done
((checked == 9)) || { echo "FAIL: $checked packages, not 9"; exit 1; }
echo "reproducible: $((checked - failures)) passed, $failures failed"
((failures == 0))
