#!/usr/bin/env bash
# The Windows installer under Wine, in a fresh Wine prefix: a silent install, the
# Start-menu entries, the installed configurator's window, a silent uninstall that
# leaves nothing behind. Needs DISPLAY set.
#   scripts/wine-installer-check.sh INSTALLER.exe PREFIX_FOLDER
set -euo pipefail
installer=$(realpath "$1")
export WINEPREFIX=$(realpath -m "$2")
export WINEDEBUG=-all WINEARCH=win64
# No menu entries of the Windows programs on the host.
export WINEDLLOVERRIDES=winemenubuilder.exe=d

source "${BASH_SOURCE[0]%/*}/lib/checks.sh"
main_window() { xdotool search --onlyvisible --name '^Vestibar' 2>/dev/null | head -n1; }
window_shown() { [ -n "$(main_window)" ]; }
window_gone() { [ -z "$(main_window)" ]; }
# lnk_says FILE TEXT: the shortcut holds TEXT (shortcuts keep their strings in UTF-16).
lnk_says() { /usr/bin/python3 -c 'import sys; sys.exit(sys.argv[2].encode("utf-16-le") not in open(sys.argv[1], "rb").read())' "$@"; }

rm -rf "$WINEPREFIX"
wineboot -i >/dev/null 2>&1 || true
wineserver -w
folder=$WINEPREFIX/drive_c/Vestibar

echo "installer under Wine: $(basename "$installer")"
wine "$installer" /S /D='C:\Vestibar' >/dev/null 2>&1 || true
wineserver -w
for file in bin/vestibar.exe bin/v38ctl.exe bin/Qt6Widgets.dll bin/platforms/qwindows.dll \
    bin/styles/qwindowsvistastyle.dll bin/libstdc++-6.dll licenses/qt/LGPL-3.0-only.txt; do
    check "installs $file" test -f "$folder/$file"
done
menu=$(find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/Vestibar*' -type d | head -n1)
check "makes a Start-menu folder" test -n "$menu"
check "with the configurator" lnk_says "$menu/Vestibar.lnk" 'vestibar.exe'
check "and the port list in a console that stays open" \
    lnk_says "$menu/Porty szeregowe (v38ctl).lnk" '/k "C:\Vestibar\bin\v38ctl.exe" ports'

wine "$folder/bin/vestibar.exe" >/dev/null 2>&1 &
app=$!
check "the installed configurator shows its window" until_true 60 window_shown
id=$(main_window)
if [ -n "$id" ]; then
    xdotool windowfocus --sync "$id" 2>/dev/null || true
    xdotool key --clearmodifiers alt+F4
fi
check "and ends when its window is closed" until_true 15 window_gone
kill $app 2>/dev/null || true
wait $app 2>/dev/null || true
wineserver -w

wine "$folder/Uninstall.exe" /S >/dev/null 2>&1 || true
wineserver -w # the uninstaller runs from a copy of itself in the temporary folder
check "the uninstaller leaves nothing in the install folder" \
    test -z "$(find "$folder" -mindepth 1 2>/dev/null | head -n1)"
check "nor in the Start menu" test ! -e "$menu"

echo "installer under Wine: $((checks - failures)) of $checks checks passed"
[ $failures -eq 0 ]
