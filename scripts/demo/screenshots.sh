#!/usr/bin/env bash
# Pictures of every window with the sample configuration, for checking the layout by
# eye; the main window's picture is the README's docs/screenshot-main.png.
#
#   scripts/demo/screenshots.sh [FOLDER]     (default: build/screenshots)
set -euo pipefail
cd "$(dirname "$0")/../.."

build="${V38_BUILD_DIR:-build/debug}"
folder="${1:-build/screenshots}"
if [ ! -f "$build/build.ninja" ]; then
    cmake --preset default -B "$build" >/dev/null
fi
cmake --build "$build" --target v38ui_screenshots
mkdir -p "$folder"

shoot=("$build/tests/ui/v38ui_screenshots" "$folder" scripts/demo/sample-lock.bin)
if [ -n "${DISPLAY:-}" ]; then
    "${shoot[@]}"
elif command -v xvfb-run >/dev/null; then
    xvfb-run -a -s "-screen 0 1024x768x24" "${shoot[@]}"
else
    QT_QPA_PLATFORM=offscreen "${shoot[@]}"
fi
cp "$folder/main.png" docs/screenshot-main.png
echo "Pictures in $folder; docs/screenshot-main.png updated."
