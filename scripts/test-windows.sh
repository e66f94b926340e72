#!/usr/bin/env bash
# The configurator for Windows: Qt for mingw-w64 built from Debian's sources (cached),
# vestibar.exe, v38ctl.exe and the window tests cross-compiled, the installer and the
# portable ZIP made; then under Wine: the window tests (offscreen), the configurator
# on Xvfb driven by X input against the lock simulator, and the installer in a fresh
# prefix. Fails when any of them fails; skips nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$SECONDS
build=${MINGW_QT_BUILD:-$root/build/mingw-qt}
export MINGW_QT_BUILD=$build

MINGW_QT_BUILD=$build scripts/cross-win-ui.sh package
qt_prefix=$(scripts/build-qt-windows.sh | tail -n1)
echo "built for Windows in $((SECONDS - start)) s"

export WINEDEBUG=-all WINEARCH=win64
# No menu entries of the Windows programs on the host.
export WINEDLLOVERRIDES=winemenubuilder.exe=d
export WINEPREFIX=$build/wineprefix
wineboot -i >/dev/null 2>&1 || true
wineserver -w
winpath() { echo "Z:${1//\//\\}"; }
failed=0

# The window tests against Qt's own folder, with the compiler's runtime on the path. The
# offscreen platform on Windows reads fonts from a folder, not from the system: the same
# face as on Linux, so that the captions measure alike. Wine keeps the host's QT_*
# variables from Windows programs, so the folder goes into the prefix's environment.
runtime=()
for dll in libstdc++-6.dll libwinpthread-1.dll; do
    runtime+=("$(winpath "$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=$dll)")")")
done
wine reg add 'HKCU\Environment' /v QT_QPA_FONTDIR /t REG_SZ \
    /d "$(winpath /usr/share/fonts/truetype/dejavu)" /f >/dev/null 2>&1
wineserver -w
run_ui_tests() {
    WINEPATH="$(winpath "$qt_prefix/bin");${runtime[0]};${runtime[1]}" \
        wine "$build/tests/ui/v38ui_tests.exe" -platform offscreen "$@" 2>&1 |
        tr -d '\r' >"$build/ui-tests.log"
    grep -q '^\[  PASSED  \] ' "$build/ui-tests.log" && ! grep -q '^\[  FAILED  \]' "$build/ui-tests.log"
}
# Wine's server now and then drops a client that starts while it is shutting down; a
# run that fails gets one more, and a test that really fails, fails both.
if run_ui_tests || run_ui_tests; then
    echo "window tests under Wine: $(grep '^\[  PASSED  \]' "$build/ui-tests.log")"
else
    grep -E '^\[  FAILED  \]|Failure|error' "$build/ui-tests.log" | head -40
    echo "window tests under Wine: FAILED (log: $build/ui-tests.log)"
    failed=1
fi

# The configurator as installed (the files of the installer and the ZIP), not as built.
stage=$build/stage
rm -rf "$stage"
cmake --install "$build" --prefix "$stage" >/dev/null
xvfb-run -a -s "-screen 0 1024x768x24" \
    scripts/wine-vestibar-end-to-end.sh "$stage" "$build/screenshot-windows.png" || failed=1

xvfb-run -a -s "-screen 0 1024x768x24" \
    scripts/wine-installer-check.sh "$build/vestibar-2.0-win64.exe" "$build/wineprefix-install" ||
    failed=1

ls -l "$build"/vestibar-2.0-win64.exe "$build"/vestibar-2.0-win64.zip | awk '{ print "  " $5 " bytes  " $9 }'
echo "windows stage: $((SECONDS - start)) s"
exit $failed
