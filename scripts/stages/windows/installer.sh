#!/usr/bin/env bash
# The Windows installers under Wine, in a fresh Wine prefix, as an administrator and as
# a person use them. The MSI: a silent install (msiexec /i … /qn), its files, Start-menu
# entries and installed-programs entry; a newer build installed over it (one entry, the
# newer files); a silent removal (msiexec /x … /qn) that leaves nothing in the prefix.
# Then the NSIS installer gone through page by page with the Enter key (the default
# choices), the same checks, the installed configurator's window, the newer installer
# over it silently, and its silent uninstaller, which leaves nothing either. Needs
# DISPLAY set.
#   scripts/stages/windows/installer.sh OLDER NEWER PREFIX_FOLDER
# OLDER and NEWER are the packages' paths without .msi or .exe (…/vestibar-V-win64),
# NEWER of a higher version. Pictures of the installer's pages go beside OLDER.
set -euo pipefail
older=$(realpath "$1")
newer=$(realpath "$2")
prefix=$(realpath -m "$3")
cd "$(dirname "$0")/../../.."
source scripts/lib/checks.sh
source scripts/lib/wine.sh
source scripts/lib/xwindow.sh
older_version=$(basename "$older" | sed 's/^vestibar-\(.*\)-win64$/\1/')
newer_version=$(basename "$newer" | sed 's/^vestibar-\(.*\)-win64$/\1/')

quietly() { "$@" >/dev/null 2>&1; }
# lnk_says FILE TEXT: the shortcut holds TEXT.
lnk_says() { scripts/lib/v38check.py utf16-holds "$@"; }
one_entry() { # one_entry VERSION: one installed-programs entry, "Vestibar", of VERSION
    local found
    found=$(wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
        scripts/lib/v38check.py uninstall-entries)
    [ "$(cut -d'|' -f1-2 <<<"$found")" = "Vestibar|$1" ] || {
        echo "       entries: ${found:-none}"
        return 1
    }
}
installed_version() { # installed_version PROGRAM VERSION
    [ "$(scripts/lib/v38check.py windows-version "$folder/bin/$1.exe" 2>/dev/null)" = "$2" ]
}
menu_folder() { find "$WINEPREFIX/drive_c" -path '*/Start Menu/Programs/Vestibar' -type d | head -n1; }
nothing_left() { # no file, folder, registry key or value of Vestibar in the prefix
    local left
    left=$(find "$WINEPREFIX/drive_c" -iname '*vestibar*'; grep -hi vestibar "$WINEPREFIX"/*.reg)
    [ -z "$left" ] || {
        head -n3 <<<"$left" | sed 's/^/       left: /'
        return 1
    }
}
check_installed() { # check_installed VERSION
    local file menu
    for file in bin/vestibar.exe bin/v38ctl.exe bin/Qt6Widgets.dll bin/platforms/qwindows.dll \
        bin/styles/qwindowsvistastyle.dll bin/libstdc++-6.dll licenses/qt/LGPL-3.0-only.txt; do
        check "installs $file" test -f "$folder/$file"
    done
    menu=$(menu_folder)
    check "makes a Start-menu folder" test -n "$menu"
    check "with the configurator" lnk_says "$menu/Vestibar.lnk" 'vestibar.exe'
    check "and the port list in a console that stays open" \
        lnk_says "$menu/Porty szeregowe (v38ctl).lnk" '/k "C:\Program Files\Vestibar\bin\v38ctl.exe" ports'
    check "one installed-programs entry, Vestibar $1" one_entry "$1"
}
check_upgraded() {
    check "the newer build over it: one entry, Vestibar $newer_version" one_entry "$newer_version"
    check "and the newer files" installed_version vestibar "$newer_version"
    check "of both programs" installed_version v38ctl "$newer_version"
}

wine_fresh_prefix "$prefix"
folder="$WINEPREFIX/drive_c/Program Files/Vestibar"

echo "MSI under Wine: $(basename "$older").msi, then $(basename "$newer").msi"
check "msiexec /i /qn succeeds" quietly wine msiexec /i "$(winpath "$older.msi")" /qn
wineserver -w
check_installed "$older_version"
# Windows shows the icon that the package registered for the product.
check "the entry has the program's icon" bash -c "wine reg query 'HKLM\Software\Classes\Installer\Products' /s 2>/dev/null |
    grep -q 'ProductIcon.*vestibar\.ico'"
check "msiexec /i /qn of the newer build succeeds" quietly wine msiexec /i "$(winpath "$newer.msi")" /qn
wineserver -w
check_upgraded
check "msiexec /x /qn succeeds" quietly wine msiexec /x "$(winpath "$newer.msi")" /qn
wineserver -w
check "and leaves nothing" nothing_left

# The NSIS installer as a person goes through it: on each page, once nothing moves on
# it any more (the page that installs moves until it is done), Enter presses the
# default button; the next page has another heading. Until the installer's window is
# gone.
setup_window() { xdotool search --onlyvisible --name '^Vestibar .*Setup' 2>/dev/null | head -n1; }
setup_shown() { [ -n "$(setup_window)" ]; }
# A window that closes as import starts makes it wait for a click on another: hence the
# time limit (an empty picture then, which tells the page has changed).
picture() { timeout 10 import -window "$1" -depth 8 rgb:- 2>/dev/null | md5sum; }
heading() { timeout 10 import -window "$1" -crop 0x58+0+0 -depth 8 rgb:- 2>/dev/null | md5sum; }
settled() {
    local before
    before=$(picture "$1")
    sleep 1
    [ "$(picture "$1")" = "$before" ]
}
left_page() { ! setup_shown || [ "$(heading "$1")" != "$2" ]; }
ended() { ! kill -0 "$1" 2>/dev/null; }
pages=$(dirname "$older")/installer-pages
rm -rf "$pages"
mkdir -p "$pages"
echo "NSIS installer under Wine: $(basename "$older").exe page by page, then $(basename "$newer").exe"
wine "$older.exe" >/dev/null 2>&1 &
installer=$!
until_true 60 setup_shown || true
presses=0
while id=$(setup_window) && [ -n "$id" ] && [ $presses -lt 10 ]; do
    until_true 30 settled "$id" || true
    page=$(heading "$id")
    timeout 10 import -window "$id" "$pages/page-$presses.png" 2>/dev/null || true
    xdotool windowfocus --sync "$id" 2>/dev/null || true
    xdotool key --clearmodifiers Return
    presses=$((presses + 1))
    until_true 30 left_page "$id" "$page" || true
done
until_true 60 ended $installer || kill $installer 2>/dev/null || true
status=0
wait $installer || status=$?
# Welcome, licence, folder, Start-menu folder, finish.
check "Enter on each of its 5 pages installs ($presses pages; their pictures in $pages)" \
    test $status -eq 0 -a $presses -eq 5
wineserver -w
check_installed "$older_version"
check "the entry has the program's icon" bash -c "wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vestibar' /v DisplayIcon 2>/dev/null |
    grep -qF 'C:\Program Files\Vestibar\bin\vestibar.exe'"

wine "$folder/bin/vestibar.exe" >/dev/null 2>&1 &
app=$!
check "the installed configurator shows its window" until_true 60 window_shown
focus_main || true
window_shown && xdotool key --clearmodifiers alt+F4
check "and ends when its window is closed" until_true 15 window_gone
kill $app 2>/dev/null || true
wait $app 2>/dev/null || true
wineserver -w

check "the newer installer (/S) succeeds" quietly wine "$newer.exe" /S
wineserver -w
check_upgraded
check "its uninstaller (/S) succeeds" quietly wine "$folder/Uninstall.exe" /S
wineserver -w # the uninstaller runs from a copy of itself in the temporary folder
check "and leaves nothing" nothing_left

echo "installers under Wine: $((checks - failures)) of $checks checks passed"
[ $failures -eq 0 ]
