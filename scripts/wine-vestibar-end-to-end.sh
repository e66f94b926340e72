#!/usr/bin/env bash
# The configurator for Windows under Wine on an X display, driven by real X input as a
# technician would drive it: read the simulated lock through COM1 (Wine's registry maps
# it to the simulator), change a flag and a time, write the lock, save a file through
# the file dialog. The lock's image and the file must hold exactly the expected bytes.
# Needs DISPLAY and WINEPREFIX set.
#   scripts/wine-vestibar-end-to-end.sh INSTALL_FOLDER SCREENSHOT.png
set -euo pipefail
cd "$(dirname "$0")/.."
program=$(realpath "$1")/bin/vestibar.exe
screenshot=$2
sim=build/debug/tools/sim/v38-lock-sim
if [ ! -x "$sim" ]; then
    cmake --preset default >/dev/null
    cmake --build --preset default --target v38-lock-sim
fi
export WINEDEBUG=-all

work=$(mktemp -d /tmp/v38-wine-ui-XXXXXX)
link=$work/com1
sim_pid=
app_pid=
cleanup() {
    [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null || true
    [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

source scripts/lib/checks.sh # after the cd to the repository
same_bytes() { [ -f "$2" ] && cmp -s "$1" "$2"; }
key() { # key KEYS...: real key presses into the focused window, slowly enough for Wine
    for k in "$@"; do
        xdotool key --clearmodifiers "$k"
        sleep 0.3
    done
}
main_window() { xdotool search --onlyvisible --name '^Vestibar' 2>/dev/null | head -n1; }
window_shown() { [ -n "$(main_window)" ]; }
window_gone() { [ -z "$(main_window)" ]; }
focus_main() {
    local id
    id=$(main_window)
    [ -n "$id" ] && xdotool windowfocus --sync "$id" 2>/dev/null
}

# The lock holds the demo's sample. Expected afterwards: the first flag (door sensor)
# cleared, the bolt pulse 77, the check sum over the 512 bytes renewed.
cp scripts/demo/sample-lock.bin "$work/lock.bin"
/usr/bin/python3 - scripts/demo/sample-lock.bin "$work/expected.bin" <<'PY'
import sys
def crc16(data, crc=0xFFFF):
    for x in data:
        crc ^= x
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc
image = bytearray(open(sys.argv[1], "rb").read()[:512])
assert image[0] & 0x01, "the sample's door sensor flag is expected set"
image[0] &= ~0x01
image[1] = 77
crc = crc16(image)
open(sys.argv[2], "wb").write(bytes(image) + bytes([crc & 0xFF, crc >> 8]))
PY

"$sim" --image "$work/lock.bin" --link "$link" >"$work/device" 2>"$work/sim.log" &
sim_pid=$!
until_true 5 test -L "$link" || { echo "the simulator did not start" >&2; exit 1; }
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$link" /f >/dev/null 2>&1
wineserver -k 2>/dev/null || true # the port map is read when Wine starts
wineboot >/dev/null 2>&1 || true

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
import -window "$(main_window)" "$screenshot"
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
xdotool type --delay 50 "Z:${work//\//\\}\\saved.bin"
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
