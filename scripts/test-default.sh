#!/usr/bin/env bash
# The default suite: Debug build of everything, every test (the short fault soak too).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default
QT_QPA_PLATFORM=offscreen ctest --preset default --parallel 2
