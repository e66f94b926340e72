#!/usr/bin/env bash
# Cross-compiles everything below the windows (lock/, config/, v38ctl and their tests)
# for 64-bit Windows with mingw-w64 into build/mingw (or $MINGW_BUILD), linked
# statically. GoogleTest is built for Windows from the Debian sources first. Debian has
# no Qt for mingw: the windows are built on Windows itself.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
toolchain=$root/cmake/mingw-w64.cmake
jobs=${JOBS:-2}
build=${MINGW_BUILD:-$root/build/mingw}

source scripts/lib/mingw-gtest.sh

# Tests are listed when ctest runs them (under Wine), not at build time.
cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DGTest_DIR="$gtest_prefix/lib/cmake/GTest" \
    -DV38_BUILD_UI=OFF -DV38_BUILD_TOOLS=ON -DV38_BUILD_TESTS=ON \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST >/dev/null
# The libraries and the test executables that are written for both platforms.
targets=(v38model v38link v38file v38serialdouble v38lock_model_tests v38lock_link_tests v38file_tests
    v38ctl v38ctl_tests)
cmake --build "$build" -j "$jobs" --target "${targets[@]}"
