# Sourced by the package tests: `check WHAT COMMAND...` runs COMMAND and
# prints "ok" or "FAIL" with WHAT, counting failures in $failures, so a test
# reports every broken check instead of stopping at the first.
failures=0
check() {
    local what="$1"
    shift
    if "$@"; then
        echo "ok   $what"
    else
        echo "FAIL $what" >&2
        failures=$((failures + 1))
    fi
}
