#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the configurator
# need. Idempotent: installs only what is missing. Run as root (or with sudo present).
set -euo pipefail

# What building and running the configurator and its simulator needs.
packages=(
    # build (the test libraries too: the one configure of the project looks for them)
    cmake ninja-build g++ ccache pkg-config
    googletest libgtest-dev libgmock-dev
    # v38ctl's JSON documents (header-only: nothing to install at run time)
    nlohmann-json3-dev
    # the windows
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
    # the pictures, drawn as SVG, rendered to PNG at build time
    librsvg2-bin
    fonts-dejavu-core
    # screenshots, and the demo on a machine without a display: a virtual display, the
    # keys that drive its menu and the picture it saves
    xvfb xauth xdotool imagemagick
)
# What only the test stages need (scripts/test.sh).
test_packages=(
    # the Windows build (scripts/build/windows.sh): Qt built from Debian's sources
    # (dpkg-dev unpacks them), the installer; its tests under Wine, the programs on Xvfb
    # driven by X input (scripts/stages/windows.sh)
    g++-mingw-w64-x86-64-posix wine wine64 nsis xdotool imagemagick
    # the programs' icon (icotool makes the .ico), the MSI (wixl), and the checks of
    # the programs' resources (pefile, under /usr/bin/python3)
    icoutils wixl python3-pefile
    # the schema of v38ctl's documents checked by a real validator (ctest SchemaAgreement)
    python3-jsonschema
    # the libFuzzer harnesses (scripts/stages/fuzz.sh)
    clang libclang-rt-14-dev
    # the Debian package and its checks (scripts/stages/package.sh)
    dpkg-dev desktop-file-utils x11-utils libglib2.0-bin lintian appstream man-db
)
#   scripts/setup-deps.sh        everything
#   scripts/setup-deps.sh run    only what the demo (scripts/run-demo.sh) needs
if [ "${1:-all}" != run ]; then
    packages+=("${test_packages[@]}")
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
