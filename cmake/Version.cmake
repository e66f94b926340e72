# The version the programs and packages carry: the project's, unless a build raises it
# (the Windows stage installs such a build over the project's to try an upgrade).
#   v38_version          MAJOR.MINOR[.PATCH]
#   v38_version_numbers  the same as Windows' version resource keeps it: four numbers
set(V38_VERSION "" CACHE STRING "Version to build as instead of the project's (empty: the project's)")
if(V38_VERSION)
    set(v38_version ${V38_VERSION})
else()
    set(v38_version ${PROJECT_VERSION})
endif()
# Windows keeps a version as four 16-bit numbers, and an MSI compares the first three,
# the first two up to 255.
if(NOT v38_version MATCHES "^([0-9]+)\\.([0-9]+)(\\.([0-9]+))?$"
   OR CMAKE_MATCH_1 GREATER 255 OR CMAKE_MATCH_2 GREATER 255 OR CMAKE_MATCH_4 GREATER 65535)
    message(FATAL_ERROR "Version '${v38_version}' is not MAJOR.MINOR[.PATCH] (255.255.65535 at most)")
endif()
set(patch 0)
if(CMAKE_MATCH_4)
    set(patch ${CMAKE_MATCH_4})
endif()
set(v38_version_numbers ${CMAKE_MATCH_1},${CMAKE_MATCH_2},${patch},0)
