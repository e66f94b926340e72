# Cross-compiling for 64-bit Windows with mingw-w64, everything linked statically so
# that the .exe files run without the compiler's DLLs.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-shared.cmake)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
