# Sourced by the end-to-end scripts: `check DESCRIPTION COMMAND...` runs one check,
# prints ok or FAIL, and counts both in $checks and $failures.
checks=0
failures=0
check() {
    local what=$1
    shift
    checks=$((checks + 1))
    if "$@"; then
        echo "  ok   $what"
    else
        echo "  FAIL $what"
        failures=$((failures + 1))
    fi
}
