# Sourced by the scripts that check and wait: `check DESCRIPTION COMMAND...` runs one
# check, prints ok or FAIL, and counts both in $checks and $failures; `until_true
# SECONDS COMMAND...` polls a command until it succeeds or the time is up.
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

until_true() {
    local tenths=$(($1 * 10))
    shift
    for _ in $(seq "$tenths"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
