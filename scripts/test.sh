#!/usr/bin/env bash
# Installs what is missing, then runs every stage (scripts/stages/NAME.sh): the default
# suite first, then the sanitizers, the fuzzers, the Windows build under Wine and the
# Debian package. Every stage runs; the script fails when any of them failed.
#   scripts/test.sh                 all stages
#   scripts/test.sh default asan    only these (names: default asan fuzz windows package)
set -uo pipefail
cd "$(dirname "$0")/.."

stages=("$@")
if [ ${#stages[@]} -eq 0 ]; then
    stages=(default asan fuzz windows package)
fi
for stage in "${stages[@]}"; do
    if [ ! -x "scripts/stages/$stage.sh" ]; then
        echo "test.sh: no stage '$stage'" >&2
        exit 2
    fi
done

scripts/setup-deps.sh || exit 1

summary=()
failed=0
for stage in "${stages[@]}"; do
    echo "=== stage $stage"
    start=$SECONDS
    if "scripts/stages/$stage.sh"; then
        result=passed
    else
        result=FAILED
        failed=1
    fi
    summary+=("$(printf '%-8s %s in %d s' "$stage" "$result" $((SECONDS - start)))")
done
echo "=== summary"
printf '%s\n' "${summary[@]}"
exit $failed
