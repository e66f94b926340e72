#!/usr/bin/env bash
# The Debian package: a release build of the programs, cpack -G DEB, then checks that it
# holds the three programs, a valid menu entry and its icon; that its dependencies
# resolve from a minimal Debian (what every Debian system has, and what that needs);
# and that the menu entry starts the configurator (under Xvfb, from the unpacked files).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset package >/dev/null
cmake --build --preset package --target vestibar v38ctl v38-lock-sim
work=$(mktemp -d /tmp/v38-package-XXXXXX)
trap 'rm -rf "$work"' EXIT
if ! (cd build/package && cpack -G DEB) >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    exit 1
fi
deb=$(ls build/package/vestibar_*_amd64.deb)
failures=0
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then
        echo "  ok   $what"
    else
        echo "  FAIL $what"
        failures=$((failures + 1))
    fi
}
has_line() { grep -qxF "$1" "$2"; }

echo "package: $deb, $(stat -c %s "$deb") bytes"
echo "  Depends: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -x "$deb" "$work/root"
(cd "$work/root" && find . -type f | sed 's|^\./||' | sort) >"$work/files"
for file in usr/bin/vestibar usr/bin/v38ctl usr/bin/v38-lock-sim \
    usr/share/applications/vestibar.desktop usr/share/icons/hicolor/scalable/apps/vestibar.svg; do
    check "holds $file" has_line "$file" "$work/files"
done
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libqt6gui6; do
    check "depends on $library" grep -q "$library" <<<"$depends"
done
# The pictures are PNG resources: QtSvg is no longer needed.
check "does not depend on libqt6svg6" bash -c '! grep -q libqt6svg6 <<<"$1"' _ "$depends"

desktop=$work/root/usr/share/applications/vestibar.desktop
check "the menu entry is valid" desktop-file-validate "$desktop"
exec_command=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
icon=$(sed -n 's/^Icon=//p' "$desktop")
check "the menu entry starts a program of the package" test -x "$work/root/usr/bin/$exec_command"
check "the menu entry's icon is in the package" \
    test -f "$work/root/usr/share/icons/hicolor/scalable/apps/$icon.svg"

# A minimal Debian: the essential and required packages installed here, with what they
# depend on. apt must find everything else the package needs, and plan to install it.
/usr/bin/python3 - "$work/status" <<'PY'
import re, sys
entries = [s for s in open("/var/lib/dpkg/status").read().split("\n\n") if s.strip()]
installed = {}
for text in entries:
    fields = dict(re.findall(r"^([A-Za-z-]+): ?(.*)$", text, re.M))
    if "install ok installed" in fields.get("Status", ""):
        installed[fields["Package"]] = (fields, text.strip())
provided = {}
for name, (fields, _) in installed.items():
    for virtual in fields.get("Provides", "").split(","):
        if virtual.strip():
            provided.setdefault(virtual.split()[0], name)
def needs(fields):
    for field in ("Pre-Depends", "Depends"):
        for choice in filter(None, (c.strip() for c in fields.get(field, "").split(","))):
            for option in (o.split()[0].split(":")[0] for o in choice.split("|")):
                if option in installed or option in provided:
                    yield option if option in installed else provided[option]
                    break
todo = [n for n, (f, _) in installed.items()
        if f.get("Essential") == "yes" or f.get("Priority") == "required"]
base = set()
while todo:
    name = todo.pop()
    if name not in base:
        base.add(name)
        todo.extend(needs(installed[name][0]))
open(sys.argv[1], "w").write("\n\n".join(installed[n][1] for n in sorted(base)) + "\n")
print(f"  minimal system: {len(base)} packages")
PY
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

if [ $failures -ne 0 ]; then
    echo "package: $failures checks failed"
    exit 1
fi
