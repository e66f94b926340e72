#!/usr/bin/env bash
# Runs the configurator against the lock simulator: the simulator opens a
# pseudo-terminal holding a sample configuration, and vestibar finds it as COM1
# through V38_PORTS. Read the lock with "Zamek > Odytaj", change something, write it
# back with "Zamek > Zapisz"; the simulated lock keeps what it was sent in a copy of
# the sample (its path is printed). Without a display the demo runs under xvfb-run:
# it reads the lock through the menu, saves a picture of the screen, prints its path
# and ends.
#
#   scripts/run-demo.sh            build if needed, then run
#   V38_BUILD_DIR=dir scripts/run-demo.sh   use another build folder
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh run

source scripts/lib/checks.sh
source scripts/lib/sim.sh
build=${V38_BUILD_DIR:-build/debug}
if [ ! -f "$build/build.ninja" ]; then
    cmake --preset default -B "$build" >/dev/null
fi
cmake --build "$build" --target vestibar v38-lock-sim
sim=$build/tools/sim/v38-lock-sim

work="$(mktemp -d "${TMPDIR:-/tmp}/v38-demo.XXXXXX")"
cp scripts/demo/sample-lock.bin "$work/lock.bin"
trap sim_stop EXIT INT TERM
sim_start "$work"
echo "Simulated lock on $sim_device (COM1); its memory is $work/lock.bin"

export V38_PORTS="$sim_device"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    "$build/ui/vestibar"
elif command -v xvfb-run >/dev/null; then
    echo "No display here: vestibar runs under xvfb-run, reads the lock through its menu,"
    echo "and the demo saves a picture of the screen and ends."
    xvfb-run -a -s "-screen 0 1024x768x24" \
        scripts/demo/read-headless.sh "$build/ui/vestibar" "$work/screen.png"
else
    echo "run-demo: no display and no xvfb-run (scripts/setup-deps.sh installs it)" >&2
    exit 1
fi
