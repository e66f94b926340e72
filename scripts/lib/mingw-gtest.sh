# Sourced by the cross builds: GoogleTest for Windows, built once from Debian's sources
# into build/mingw-gtest (static libraries). Needs $root and $jobs; sets $gtest_prefix.
gtest_build=$root/build/mingw-gtest
gtest_prefix=$gtest_build/install
if [ ! -f "$gtest_prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
    cmake -S /usr/src/googletest -B "$gtest_build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$gtest_prefix" >/dev/null
    cmake --build "$gtest_build" -j "$jobs"
    cmake --install "$gtest_build" >/dev/null
fi
