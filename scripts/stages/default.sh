#!/usr/bin/env bash
# The default suite: Debug build of everything, every test (the short fault soak too).
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset default >/dev/null
cmake --build --preset default
QT_QPA_PLATFORM=offscreen ctest --preset default --parallel 2
# The soak's counts, which ctest keeps to itself when a test passes.
sed -n '/^v38-soak: seed/,/^PASSED/p' build/debug/Testing/Temporary/LastTest.log
