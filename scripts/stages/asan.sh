#!/usr/bin/env bash
# The whole suite again under AddressSanitizer + UndefinedBehaviorSanitizer (leak
# checking included). Any report fails the test that caused it.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset asan >/dev/null
cmake --build --preset asan
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
QT_QPA_PLATFORM=offscreen ctest --preset asan --parallel 2
# The soak's counts, which ctest keeps to itself when a test passes.
sed -n '/^v38-soak: seed/,/^PASSED/p' build/asan/Testing/Temporary/LastTest.log
