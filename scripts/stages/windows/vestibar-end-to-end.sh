#!/usr/bin/env bash
# The configurator for Windows under Wine on an X display, driven by real X input as a
# technician would drive it: read the simulated lock through COM1 (Wine's registry maps
# it to the simulator), change a flag and a time, write the lock, save a file through
# the file dialog. The lock's image and the file must hold exactly the expected bytes.
# Needs DISPLAY and WINEPREFIX set.
#   scripts/stages/windows/vestibar-end-to-end.sh INSTALL_FOLDER SCREENSHOT.png
set -euo pipefail
program=$(realpath "$1")/bin/vestibar.exe
screenshot=$(realpath -m "$2")
cd "$(dirname "$0")/../../.."
source scripts/lib/checks.sh
source scripts/lib/sim.sh
source scripts/lib/wine.sh
source scripts/lib/xwindow.sh
sim_built

work=$(mktemp -d /tmp/v38-wine-ui-XXXXXX)
link=$work/com1
app_pid=
cleanup() {
    [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null || true
    sim_stop
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

same_bytes() { [ -f "$2" ] && cmp -s "$1" "$2"; }

# The lock holds the demo's sample. Expected afterwards: the first flag (door sensor)
# cleared, the bolt pulse 77, the check sum over the 512 bytes renewed.
cp scripts/demo/sample-lock.bin "$work/lock.bin"
scripts/lib/v38check.py edit-config scripts/demo/sample-lock.bin "$work/expected.bin" 0-=0x01 1=77

sim_start "$work" --link "$link"
wine_map_port COM1 "$link"
wine_restart

echo "wine end-to-end: vestibar.exe driven by X input, COM1 -> simulator"
wine "$program" >"$work/vestibar.log" 2>&1 &
app_pid=$!
check "the main window appears" until_true 60 window_shown
if ! window_shown; then
    tail -20 "$work/vestibar.log" | sed 's/^/  vestibar: /'
    exit 1
fi
focus_main

# Zamek > Odczytaj; the list, flags and times then show the sample.
key alt+z o
sleep 4
focus_main
timeout 10 import -window "$(main_window)" "$screenshot"
echo "  picture after the read: $screenshot"

# The door-sensor box has the focus from the start: Space clears it. Five tabs on, the
# bolt pulse; then Zamek > Zapisz.
key space Tab Tab Tab Tab Tab ctrl+a 7 7
[ -z "${V38_DEBUG_SHOTS:-}" ] || import -window root "$V38_DEBUG_SHOTS-changed.png"
key alt+z z
check "the lock holds exactly the changed configuration" until_true 20 same_bytes "$work/expected.bin" "$work/lock.bin"

# Plik > Zapisz: the file dialog takes the whole name typed into it.
focus_main
key alt+p z
sleep 2
[ -z "${V38_DEBUG_SHOTS:-}" ] || import -window root "$V38_DEBUG_SHOTS-dialog.png"
xdotool type --delay 50 "$(winpath "$work")\\saved.bin"
key Return
check "the saved file holds exactly the same bytes" until_true 15 same_bytes "$work/expected.bin" "$work/saved.bin"

# "Koniec" is greyed: the window closes through its frame (Alt+F4).
focus_main
key alt+F4
check "the configurator ends when its window is closed" until_true 15 window_gone

echo "wine end-to-end (configurator): $((checks - failures)) of $checks checks passed"
if [ $failures -ne 0 ]; then
    for f in lock.bin saved.bin; do
        [ -f "$work/$f" ] && cmp -l "$work/expected.bin" "$work/$f" | head -5 | sed "s/^/  $f differs: /"
    done
    tail -20 "$work/sim.log" | sed 's/^/  sim: /'
    tail -20 "$work/vestibar.log" | sed 's/^/  vestibar: /'
    exit 1
fi
