#!/usr/bin/env bash
# The demo on a display nobody sees (inside xvfb-run): starts vestibar, reads the
# simulated lock through the menu with real X input (Alt+Z, then O: "Zamek > Odytaj"),
# waits for the transfer to end, saves a picture of the screen and ends.
#
#   read-headless.sh VESTIBAR PICTURE
set -euo pipefail
vestibar=$1
picture=$2

"$vestibar" &
app=$!
trap 'kill "$app" 2>/dev/null || true; wait "$app" 2>/dev/null || true' EXIT

fail() {
    echo "run-demo: $1" >&2
    exit 1
}
shown() {
    xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1
}
# await NAME shown|gone SECONDS
await() {
    for _ in $(seq $(($3 * 10))); do
        if [ -n "$(shown "$1")" ]; then
            [ "$2" = shown ] && return 0
        else
            [ "$2" = gone ] && return 0
        fi
        kill -0 "$app" 2>/dev/null || fail "vestibar ended by itself"
        sleep 0.1
    done
    return 1
}

await '^Vestibar$' shown 30 || fail "the window of vestibar did not appear"
xdotool windowfocus --sync "$(shown '^Vestibar$')"
xdotool key alt+z
sleep 0.5
xdotool key o
# The progress window stands on the screen for the whole read: over a second at the
# lock's 9600 baud.
await '^Transmisja$' shown 10 || fail "the read from the lock did not start"
await '^Transmisja$' gone 60 || fail "the read from the lock did not end"
sleep 0.5 # the main window repaints what was read
import -window root "$picture"
if [ -n "$(shown 'Błąd')" ]; then
    fail "the read from the lock failed; the picture $picture shows the message"
fi
echo "Read the lock through the menu; picture of the screen: $picture"
