#!/usr/bin/env bash
# The Windows build, cross-compiled with mingw-w64 into build/windows-cross (preset
# windows-cross): Qt for Windows from scripts/build/qt-windows.sh (built once, cached),
# then the libraries, v38ctl.exe, vestibar.exe and every test, then the installer, the
# MSI and the portable ZIP. The same sources as on Linux.
#   scripts/build/windows.sh
set -euo pipefail
cd "$(dirname "$0")/../.."

V38_WINDOWS_QT=$(scripts/build/qt-windows.sh | tail -n1)
export V38_WINDOWS_QT
cmake --preset windows-cross >/dev/null
cmake --build --preset windows-cross -j "${JOBS:-2}"
build=build/windows-cross
if ! cpack --preset windows-cross >"$build/cpack.log" 2>&1; then
    tail -n 30 "$build/cpack.log" >&2
    echo "windows.sh: making the installer failed (see $build/cpack.log)" >&2
    exit 1
fi
ls -l "$build"/vestibar-*-win64.{exe,msi,zip} | awk '{ print "  " $5 " bytes  " $9 }'
