#!/usr/bin/env bash
# The Windows installer under Wine, in a fresh Wine prefix: a silent install, the
# Start-menu entries, the installed configurator's window, a silent uninstall that
# leaves nothing behind. Needs DISPLAY set.
#   scripts/stages/windows/installer.sh INSTALLER.exe PREFIX_FOLDER
set -euo pipefail
installer=$(realpath "$1")
prefix=$(realpath -m "$2")
cd "$(dirname "$0")/../../.."
source scripts/lib/checks.sh
source scripts/lib/wine.sh
source scripts/lib/xwindow.sh
# lnk_says FILE TEXT: the shortcut holds TEXT.
lnk_says() { scripts/lib/v38check.py utf16-holds "$@"; }

wine_fresh_prefix "$prefix"
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
focus_main || true
window_shown && xdotool key --clearmodifiers alt+F4
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
