# Test bookkeeping for the project's shell checks. Source it; each failed check is counted
# in $failures, for the script to act on at its end.
failures=0

check() {   # check DESCRIPTION COMMAND...
    local what=$1; shift
    if "$@"; then
        echo "  ok: $what"
    else
        echo "  FAILED: $what"
        failures=$((failures + 1))
    fi
}
