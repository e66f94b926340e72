# The Windows build cross-compiled on Linux (preset windows-cross): what the project
# needs beyond the compiler (cmake/mingw-w64.cmake, the toolchain Qt is built with).
#   V38_WINDOWS_QT           the Qt for Windows (scripts/build/qt-windows.sh prints it;
#                            the preset takes it from the environment)
#   V38_MINGW_RUNTIME_DLLS   the compiler's runtime DLLs that Qt and the programs share
# Tests run under Wine through run-under-wine.sh in the build folder, GoogleTest is built
# here for the target, from the sources Debian ships.

set(V38_WINDOWS_QT "" CACHE PATH
    "Qt for Windows (mingw-w64, shared), as scripts/build/qt-windows.sh builds it")
if(V38_BUILD_UI)
    if(NOT EXISTS "${V38_WINDOWS_QT}/lib/cmake/Qt6/Qt6Config.cmake")
        message(FATAL_ERROR "No Qt for Windows in V38_WINDOWS_QT='${V38_WINDOWS_QT}': set it "
                            "to the folder that scripts/build/qt-windows.sh prints")
    endif()
    list(APPEND CMAKE_PREFIX_PATH ${V38_WINDOWS_QT})
    list(APPEND CMAKE_FIND_ROOT_PATH ${V38_WINDOWS_QT})
    # Qt's host tools (moc, uic, rcc) are Debian's own, of the same version.
    set(QT_HOST_PATH /usr CACHE PATH "")
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")
endif()

set(V38_MINGW_RUNTIME_DLLS)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        message(FATAL_ERROR "The compiler's runtime ${dll} is not to be found")
    endif()
    cmake_path(NORMAL_PATH path)
    list(APPEND V38_MINGW_RUNTIME_DLLS ${path})
endforeach()

if(V38_BUILD_TESTS)
    set(V38_GTEST_SOURCES /usr/src/googletest CACHE PATH "GoogleTest's sources")
    set(INSTALL_GTEST OFF CACHE BOOL "GoogleTest is not shipped" FORCE)
    add_subdirectory(${V38_GTEST_SOURCES} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

    # Wine takes the DLLs' folders from WINEPATH, Windows' PATH notation.
    if(CMAKE_CROSSCOMPILING_EMULATOR)
        set(dll_folders)
        foreach(dll ${V38_MINGW_RUNTIME_DLLS})
            get_filename_component(folder ${dll} DIRECTORY)
            list(APPEND dll_folders ${folder})
        endforeach()
        if(V38_BUILD_UI)
            list(APPEND dll_folders ${V38_WINDOWS_QT}/bin)
        endif()
        list(REMOVE_DUPLICATES dll_folders)
        list(TRANSFORM dll_folders PREPEND "Z:")
        list(JOIN dll_folders ";" wine_path)
        string(REPLACE "/" "\\" wine_path "${wine_path}")
        set(runner ${CMAKE_BINARY_DIR}/run-under-wine.sh)
        file(WRITE ${runner} "#!/bin/sh
# Written by CMake: a test program under Wine, with the DLLs it loads on Wine's path.
WINEPATH='${wine_path}' exec '${CMAKE_CROSSCOMPILING_EMULATOR}' \"$@\"
")
        file(CHMOD ${runner} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
             GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
        set(CMAKE_CROSSCOMPILING_EMULATOR ${runner})
    endif()
endif()
