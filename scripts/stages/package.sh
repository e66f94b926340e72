#!/usr/bin/env bash
# The Debian package: a release build of the programs, cpack -G DEB, then checks that it
# holds the three programs, their manual pages, a valid menu entry and its icon; that
# lintian finds nothing wrong with it (no error, no warning) and appstreamcli accepts its
# metadata; that its dependencies resolve from a minimal Debian (what every Debian
# system has, and what that needs); that the menu entry starts the configurator (under
# Xvfb, from the unpacked files); and that, installed, "man v38ctl" shows its page.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset package >/dev/null
cmake --build --preset package --target vestibar v38ctl v38-lock-sim v38_package_docs
work=$(mktemp -d /tmp/v38-package-XXXXXX)
trap 'rm -rf "$work"' EXIT
if ! (cd build/package && cpack -G DEB) >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    exit 1
fi
deb=$(ls build/package/vestibar_*_amd64.deb)
source scripts/lib/checks.sh
has_line() { grep -qxF "$1" "$2"; }

echo "package: $deb, $(stat -c %s "$deb") bytes"
echo "  Depends: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -x "$deb" "$work/root"
(cd "$work/root" && find . -type f | sed 's|^\./||' | sort) >"$work/files"
app_id=example.przykladowa.vestibar
for file in usr/bin/vestibar usr/bin/v38ctl usr/bin/v38-lock-sim \
    usr/share/man/man1/vestibar.1.gz usr/share/man/man1/v38ctl.1.gz \
    usr/share/man/man1/v38-lock-sim.1.gz \
    usr/share/doc/vestibar/copyright usr/share/doc/vestibar/changelog.gz \
    usr/share/applications/$app_id.desktop usr/share/metainfo/$app_id.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/vestibar.svg \
    usr/share/bash-completion/completions/v38ctl; do
    check "holds $file" has_line "$file" "$work/files"
done
version=$(dpkg-deb -f "$deb" Version)
check "the changelog's last entry is version $version" \
    test "$(dpkg-parsechangelog -l packaging/changelog -S Version)" = "$version"
check "the metadata's last release is version $version" \
    grep -q "<release version=\"$version\"" "$work/root/usr/share/metainfo/$app_id.metainfo.xml"

# Debian's own checks. lintian also covers what a package must get right beyond its
# contents: file permissions and owners, stripped programs, a manual page for every
# program, the copyright file's format, compressed documentation, the menu entry.
# Overrides, if any, live in usr/share/lintian/overrides/vestibar, each with its reason.
if lintian --fail-on error,warning --display-info "$deb" >"$work/lintian" 2>&1; then
    echo "  ok   lintian: no error, no warning"
else
    echo "  FAIL lintian reports errors or warnings"
    failures=$((failures + 1))
fi
(grep -v '^running with root privileges' "$work/lintian" || true) | sed 's/^/       /'
if appstreamcli validate-tree --no-net "$work/root" >"$work/appstream" 2>&1; then
    echo "  ok   appstreamcli validates the metadata and finds its menu entry"
else
    echo "  FAIL appstreamcli rejects the metadata"
    failures=$((failures + 1))
fi
sed 's/^/       /' "$work/appstream"
# The manual pages as man renders them for lintian: any complaint from groff fails.
man_clean() {
    local complaints
    complaints=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z "$1" 2>&1 >/dev/null)
    [ -z "$complaints" ] || { echo "$complaints" | sed 's/^/       /'; return 1; }
}
for page in "$work"/root/usr/share/man/man1/*.1.gz; do
    check "$(basename "$page") renders without a warning" man_clean "$page"
done
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libqt6gui6; do
    check "depends on $library" grep -q "$library" <<<"$depends"
done
# The pictures are PNG resources: QtSvg is no longer needed.
check "does not depend on libqt6svg6" bash -c '! grep -q libqt6svg6 <<<"$1"' _ "$depends"

desktop=$work/root/usr/share/applications/$app_id.desktop
check "the menu entry is valid" desktop-file-validate "$desktop"
exec_command=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
icon=$(sed -n 's/^Icon=//p' "$desktop")
check "the menu entry starts a program of the package" test -x "$work/root/usr/bin/$exec_command"
check "the menu entry's icon is in the package" \
    test -f "$work/root/usr/share/icons/hicolor/scalable/apps/$icon.svg"

# A minimal Debian: the essential and required packages installed here, with what they
# depend on. apt must find everything else the package needs, and plan to install it.
scripts/lib/v38check.py minimal-dpkg-status "$work/status"
if apt-get -s -o Dir::State::status="$work/status" install "$PWD/$deb" >"$work/apt" 2>&1; then
    echo "  ok   apt resolves its dependencies on the minimal system:" \
        "$(grep -c '^Inst' "$work/apt") packages to install"
else
    echo "  FAIL apt cannot resolve its dependencies on the minimal system"
    tail -20 "$work/apt"
    failures=$((failures + 1))
fi

# The menu entry, launched as a desktop does, must bring up the main window.
cat >"$work/launch.sh" <<'SH'
gio launch "$1" >/dev/null 2>&1 &
for _ in $(seq 100); do
    if xwininfo -root -tree 2>/dev/null | grep -q '"Vestibar"'; then
        exit 0
    fi
    sleep 0.1
done
exit 1
SH
check "the menu entry brings up the main window" \
    env PATH="$work/root/usr/bin:$PATH" xvfb-run -a sh "$work/launch.sh" "$desktop"

# Installed on this machine (its dependencies are here: the set-up installed them),
# "man v38ctl" must find and show the page. The package is removed again unless it
# was installed before.
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
was_installed=$(dpkg-query -W -f='${Status}' vestibar 2>/dev/null | grep -c "install ok installed" || true)
apt_quiet=(-q -y -o DPkg::Lock::Timeout=300)
if $sudo env DEBIAN_FRONTEND=noninteractive apt-get "${apt_quiet[@]}" --reinstall \
    --no-install-recommends install "$PWD/$deb" >"$work/install" 2>&1; then
    check "installed, man v38ctl finds the package's page" \
        test "$(man -w v38ctl 2>&1)" = /usr/share/man/man1/v38ctl.1.gz
    check "installed, man v38ctl shows it" \
        sh -c 'MANPAGER=cat man v38ctl 2>&1 | head -n 1 | grep -q "^V38CTL(1) "'
    if [ "$was_installed" = 0 ] &&
        ! $sudo env DEBIAN_FRONTEND=noninteractive apt-get "${apt_quiet[@]}" remove vestibar \
            >>"$work/install" 2>&1; then
        echo "  FAIL the package cannot be removed again"
        failures=$((failures + 1))
    fi
else
    echo "  FAIL the package does not install"
    tail -20 "$work/install"
    failures=$((failures + 1))
fi

if [ $failures -ne 0 ]; then
    echo "package: $failures checks failed"
    exit 1
fi
