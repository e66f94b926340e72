#!/usr/bin/env bash
# Cross-compiles the configurator for 64-bit Windows: vestibar.exe, v38ctl.exe and the
# window tests, against the Qt that scripts/build-qt-windows.sh builds (and caches),
# into build/mingw-qt (or $MINGW_QT_BUILD). The same sources as on Linux.
#   scripts/cross-win-ui.sh              builds
#   scripts/cross-win-ui.sh package      builds, then makes the installer and the ZIP
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-2}
build=${MINGW_QT_BUILD:-$root/build/mingw-qt}

qt_prefix=$(scripts/build-qt-windows.sh | tail -n1)
[ -f "$qt_prefix/lib/cmake/Qt6/Qt6Config.cmake" ] || {
    echo "cross-win-ui.sh: no Qt for Windows" >&2
    exit 1
}

source scripts/lib/mingw-gtest.sh

# Qt's host tools (moc, uic, rcc) are Debian's own, of the same version.
cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-shared.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$qt_prefix" -DCMAKE_FIND_ROOT_PATH="$qt_prefix" -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DGTest_DIR="$gtest_prefix/lib/cmake/GTest" \
    -DV38_BUILD_UI=ON -DV38_BUILD_TOOLS=ON -DV38_BUILD_TESTS=ON \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST >/dev/null
cmake --build "$build" -j "$jobs" --target vestibar v38ctl v38ui_tests

if [ "${1:-}" = package ]; then
    (cd "$build" && cpack -G NSIS && cpack -G ZIP) >"$build/cpack.log" 2>&1 || {
        tail -n 30 "$build/cpack.log" >&2
        echo "cross-win-ui.sh: making the installer failed (see $build/cpack.log)" >&2
        exit 1
    }
    ls -l "$build"/vestibar-*-win64.exe "$build"/vestibar-*-win64.zip
fi
