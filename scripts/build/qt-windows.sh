#!/usr/bin/env bash
# Builds Qt for 64-bit Windows (mingw-w64, shared, Release) from Debian's own source
# package of the Qt whose host tools (moc, uic, rcc) are installed, once, into a cache
# folder outside the clone. Only what the configurator uses: Core, Gui, Widgets, Test,
# the windows and offscreen platforms and the windowsvista style.
#   scripts/build/qt-windows.sh      prints the install folder on standard output (what
#                                    it does and how long it took on standard error)
# The sources come through a private apt configuration in the cache folder whose
# deb-src entries are derived from the system's own Debian entries; the system's apt
# configuration is left as it is.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
start=$SECONDS
jobs=${JOBS:-2}

die() {
    echo "qt-windows.sh: $*" >&2
    exit 1
}

host_pkg=qt6-base-dev-tools
deb_version=$(dpkg-query -W -f='${Version}' "$host_pkg" 2>/dev/null) ||
    die "$host_pkg is not installed: its moc, uic and rcc build the Windows Qt (run scripts/setup-deps.sh)"
qt_version=${deb_version%%+*}
qt_version=${qt_version%%-*}

toolchain=$root/cmake/mingw-w64.cmake
configure_options=(
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
    # QtOpenGL off entirely; FEATURE_opengl=OFF would leave opengl_dynamic on, and the
    # windows platform plugin does not compile that way.
    -DINPUT_opengl=no
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_concurrent=OFF
    -DFEATURE_xml=OFF -DFEATURE_printsupport=OFF -DFEATURE_tabletevent=OFF
)
# The key changes when anything that shapes the result changes: the source package,
# the options, the toolchain file and the compiler.
compiler_version=$(x86_64-w64-mingw32-g++-posix -dumpfullversion 2>/dev/null) ||
    die "x86_64-w64-mingw32-g++-posix is missing (package g++-mingw-w64-x86-64-posix)"
key=$( { echo "$deb_version"; printf '%s\n' "${configure_options[@]}"; cat "$toolchain";
         echo "$compiler_version"; } | sha256sum | cut -c1-12)

cache=${XDG_CACHE_HOME:-$HOME/.cache}/vestibar
prefix=$cache/qt-$qt_version-mingw-$key
marker=$prefix/.vestibar-complete
expected="$deb_version $key"

# Written last, so a folder without it (or with another version's) is half-made.
if [ -f "$marker" ] && [ "$(cat "$marker")" = "$expected" ] &&
    grep -qs "PACKAGE_VERSION \"$qt_version\"" "$prefix"/lib/cmake/Qt6/Qt6ConfigVersion*.cmake; then
    echo "Qt $qt_version for Windows is in the cache ($((SECONDS - start)) s)" >&2
    echo "$prefix"
    exit 0
fi
if [ -e "$prefix" ]; then
    echo "qt-windows.sh: $prefix is incomplete or of another build: rebuilding it" >&2
    rm -rf "$prefix"
fi

# The sources, through apt with its own lists, archives and sources.
work=$cache/qt-$qt_version-src
srcdir=$work/qtbase-everywhere-src-$qt_version
if [ ! -f "$work/.extracted-$deb_version" ]; then
    rm -rf "$work"
    mkdir -p "$work/apt/sources.list.d" "$work/apt/lists/partial" "$work/apt/archives/partial"
    : >"$work/apt/sources.list"
    # deb822 stanzas of Debian's archive, turned into deb-src entries.
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk 'BEGIN { RS = ""; ORS = "\n\n" }
             /(^|\n)Types:[^\n]*deb/ && /debian-archive-keyring|\/debian(-security)?([ \n]|$)/ {
                 sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f" \
            >>"$work/apt/sources.list.d/debian-src.sources"
    done
    # One-line entries.
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        grep -E '^[[:space:]]*deb[[:space:]]' "$f" | grep -E '/debian(-security)?/?[[:space:]]' |
            sed -E 's/^[[:space:]]*deb[[:space:]]/deb-src /' >>"$work/apt/sources.list" || true
    done
    if [ ! -s "$work/apt/sources.list" ] && [ ! -s "$work/apt/sources.list.d/debian-src.sources" ]; then
        die "no Debian archive entry in /etc/apt to derive deb-src entries from: cannot get the Qt sources"
    fi
    apt_options=(
        -o Dir::Etc::SourceList="$work/apt/sources.list"
        -o Dir::Etc::SourceParts="$work/apt/sources.list.d"
        -o Dir::State::Lists="$work/apt/lists"
        -o Dir::Cache="$work/apt/cache"
        -o Dir::Cache::archives="$work/apt/archives"
        -o APT::Sandbox::User=root
    )
    mkdir -p "$work/apt/cache"
    echo "Fetching the source package qt6-base $deb_version" >&2
    apt-get "${apt_options[@]}" -q update >"$work/apt-update.log" 2>&1 ||
        die "apt-get update with the derived deb-src entries failed (see $work/apt-update.log): the Qt sources cannot be had"
    (cd "$work" && apt-get "${apt_options[@]}" -q source "qt6-base=$deb_version") >"$work/apt-source.log" 2>&1 ||
        die "the source package qt6-base $deb_version cannot be had through apt (see $work/apt-source.log)"
    extracted=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -n1)
    [ -n "$extracted" ] && [ -f "$extracted/CMakeLists.txt" ] ||
        die "apt-get source qt6-base gave no source tree (see $work/apt-source.log)"
    mv "$extracted" "$srcdir"
    rm -f "$work"/*.orig.tar.* "$work"/*.debian.tar.* "$work"/*.dsc
    touch "$work/.extracted-$deb_version"
fi

build=$cache/qt-$qt_version-mingw-$key-build
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DQT_USE_CCACHE=ON)
fi
echo "Configuring Qt $qt_version for Windows into $prefix" >&2
cmake -S "$srcdir" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$prefix" "${launcher[@]}" \
    "${configure_options[@]}" >"$build.configure.log" 2>&1 ||
    die "configuring Qt failed (see $build.configure.log)"
echo "Building Qt (about 1000 steps; log in $build.log)" >&2
cmake --build "$build" -j "$jobs" >"$build.log" 2>&1 || { tail -n 30 "$build.log" >&2; die "building Qt failed (see $build.log)"; }
cmake --install "$build" >>"$build.log" 2>&1 || die "installing Qt failed (see $build.log)"
# The licences ship with the program.
mkdir -p "$prefix/licenses"
cp "$srcdir"/LICENSES/*.txt "$prefix/licenses/"
cp "$srcdir/debian/copyright" "$prefix/licenses/debian-copyright.txt" 2>/dev/null || true
echo "$expected" >"$marker"
rm -rf "$build"
echo "Qt $qt_version for Windows built in $(((SECONDS - start) / 60)) min $(((SECONDS - start) % 60)) s" >&2
echo "$prefix"
