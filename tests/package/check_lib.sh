# Counting checks, shared by the package tests (sourced).

failures=0 checked=0

# check DESCRIPTION COMMAND...: runs the command; a failure is counted and
# named, and the test goes on.
check() {
    local what=$1
    shift
    ((++checked))
    "$@" || { echo "FAIL: $what"; ((++failures)); }
}

# check_summary NAME: the closing line, and the status of the whole test.
check_summary() {
    echo "$1: $((checked - failures)) passed, $failures failed"
    ((failures == 0))
}
