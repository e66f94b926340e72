#!/usr/bin/env bash
# Windows, cross-built on Linux and run under Wine. The one mingw-w64 build
# (scripts/build/windows.sh: Qt for Windows from Debian's sources, cached; the libraries,
# v38ctl.exe, vestibar.exe, every test, the installer, the MSI and the portable ZIP);
# the programs' icon and version resource; then under Wine: every test of that build,
# the window tests included; v38ctl.exe from the ZIP reading and writing the lock
# simulator through the Win32 serial code; vestibar.exe from the ZIP on Xvfb driven by
# X input against the simulator; the MSI and the installer in a fresh prefix, each
# upgraded by the packages of a build of a higher version. Fails when any of them
# fails; skips nothing.
set -euo pipefail
cd "$(dirname "$0")/../.."
start=$SECONDS
build=build/windows-cross

scripts/build/windows.sh
echo "built for Windows in $((SECONDS - start)) s"

source scripts/lib/wine.sh
wine_prefix "$build/wineprefix"
wine_qt_fonts
failed=0

# Wine's server now and then drops a client that starts while it is shutting down
# ("recvmsg: Connection reset by peer"); such a test gets one more run. A test that
# really fails, fails both.
log=$build/Testing/Temporary/LastTest.log
if ctest --preset windows-cross --parallel 2 --repeat until-pass:2 >"$build/wine-ctest.log" 2>&1; then
    echo "tests under Wine: $(grep -Eo '[0-9]+ tests failed out of [0-9]+' "$build/wine-ctest.log")"
else
    cat "$build/wine-ctest.log"
    echo "tests under Wine: FAILED"
    failed=1
fi
grep -h '^\[  PASSED  \]' "$log" | tr -d '\r' | sed 's/^/  /' || true

# What ships: the ZIP's files (the installer holds the same).
shipped=$build/shipped
rm -rf "$shipped"
mkdir -p "$shipped"
(cd "$shipped" && cmake -E tar xf "$(realpath ../vestibar-*-win64.zip)")
app=$(echo "$shipped"/vestibar-*-win64)

# The programs as Explorer shows them: their icon, and the version of the project.
version=$(sed -n 's/^project(v38configurator VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
holder=$(sed -n 's/^Copyright: [0-9, -]* //p' packaging/copyright | head -n1)
for program in vestibar v38ctl; do
    if scripts/lib/v38check.py windows-program "$app/bin/$program.exe" "$version" "$holder"; then
        echo "$program.exe: icon of 16 to 256 pixels, version $version, $holder"
    else
        failed=1
    fi
done

scripts/stages/windows/ctl-end-to-end.sh "$app/bin/v38ctl.exe" || failed=1
xvfb-run -a -s "-screen 0 1024x768x24" \
    scripts/stages/windows/vestibar-end-to-end.sh "$app" "$build/screenshot-windows.png" || failed=1
# A newer build to install over this one: the same sources, the version raised in the
# build only.
IFS=. read -r major minor patch <<<"$version"
newer_version=$major.$minor.$((${patch:-0} + 1))
newer=build/windows-cross-newer
V38_WINDOWS_QT=$(scripts/build/qt-windows.sh 2>/dev/null | tail -n1) \
    cmake --preset windows-cross -B "$newer" -DV38_VERSION="$newer_version" >/dev/null
cmake --build "$newer" -j "${JOBS:-2}" --target vestibar v38ctl >/dev/null
(cd "$newer" && cpack -G 'NSIS;External') >"$newer/cpack.log" 2>&1 || {
    tail -n 30 "$newer/cpack.log"
    failed=1
}
xvfb-run -a -s "-screen 0 1024x768x24" \
    scripts/stages/windows/installer.sh "$build/vestibar-$version-win64" \
    "$newer/vestibar-$newer_version-win64" "$build/wineprefix-install" || failed=1

echo "windows stage: $((SECONDS - start)) s"
exit $failed
