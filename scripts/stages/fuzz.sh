#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang) and runs each for a short while, starting from
# the seeds in fuzz/seeds and the corpus kept from earlier runs in build/fuzz/corpus.
# FUZZ_SECONDS sets the time per harness (default 20). A crash or a broken invariant
# fails the stage; the input that caused it is left in build/fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${FUZZ_SECONDS:-20}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

build=build/fuzz
mkdir -p "$build/artifacts"
failed=0
for name in config_file config_json image_texts frames; do
    corpus=$build/corpus/$name
    log=$build/fuzz_$name.log
    mkdir -p "$corpus"
    options=(-max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048
             -artifact_prefix="$build/artifacts/$name-")
    if [ -f "fuzz/$name.dict" ]; then
        options+=(-dict="fuzz/$name.dict")
    fi
    if "$build/fuzz/fuzz_$name" "${options[@]}" "$corpus" "fuzz/seeds/$name" >"$log" 2>&1; then
        result=ok
    else
        result=FAILED
        failed=1
        grep -E 'invariant broken|ERROR|SUMMARY' "$log" || tail -20 "$log"
    fi
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    printf 'fuzz_%-12s %s: %s executions in %s s, corpus %s inputs\n' "$name" "$result" \
        "${executions:-?}" "$seconds" "$(ls "$corpus" | wc -l)"
done
exit $failed
