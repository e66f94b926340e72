# The program's icon, drawn as SVG (ui/icons/vestibar.svg) and rendered at build time:
# PNGs at the sizes desktops and Windows show, which the windows carry as their window
# icon, and on Windows an .ico of them that windres compiles into each program beside
# a version resource (v38_windows_program) of the version cmake/Version.cmake gives.

# Who holds the copyright, as the package's copyright file says it.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/copyright v38_copyright REGEX "^Copyright: "
     LIMIT_COUNT 1 ENCODING UTF-8)
string(REGEX REPLACE "^Copyright: " "" v38_copyright "${v38_copyright}")
string(REGEX REPLACE "^[0-9, -]+ " "" v38_copyright_holder "${v38_copyright}")

if(WIN32)
    enable_language(RC)
endif()
if(V38_BUILD_UI OR WIN32)
    find_program(RSVG_CONVERT rsvg-convert REQUIRED)
    set(v38_icon_svg ${PROJECT_SOURCE_DIR}/ui/icons/vestibar.svg)
    set(v38_icon_dir ${PROJECT_BINARY_DIR}/program-icon)
    set(v38_icon_sizes 16 20 24 32 40 48 64 128 256)
    set(v38_icon_pngs)
    set(v38_icon_commands)
    foreach(size ${v38_icon_sizes})
        set(png ${v38_icon_dir}/vestibar-${size}.png)
        list(APPEND v38_icon_pngs ${png})
        list(APPEND v38_icon_commands COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${v38_icon_svg})
    endforeach()
    set(v38_icon_outputs ${v38_icon_pngs})
    if(WIN32)
        # The small sizes as bitmaps, which every reader of icons takes; the large ones
        # as PNG, which keeps the file small.
        find_program(V38_ICOTOOL icotool REQUIRED)
        set(v38_icon_ico ${v38_icon_dir}/vestibar.ico)
        set(ico_args)
        foreach(size ${v38_icon_sizes})
            if(size LESS 128)
                list(APPEND ico_args ${v38_icon_dir}/vestibar-${size}.png)
            else()
                list(APPEND ico_args --raw=${v38_icon_dir}/vestibar-${size}.png)
            endif()
        endforeach()
        list(APPEND v38_icon_commands COMMAND ${V38_ICOTOOL} -c -o ${v38_icon_ico} ${ico_args})
        list(APPEND v38_icon_outputs ${v38_icon_ico})
    endif()
    file(MAKE_DIRECTORY ${v38_icon_dir})
    add_custom_command(OUTPUT ${v38_icon_outputs} ${v38_icon_commands}
                       DEPENDS ${v38_icon_svg} VERBATIM)
    add_custom_target(v38_program_icon DEPENDS ${v38_icon_outputs})
endif()

# v38_windows_program(TARGET DESCRIPTION): the icon and the version resource (product,
# description, version, copyright) in TARGET's .exe. Nothing on other platforms.
function(v38_windows_program target description)
    if(NOT WIN32)
        return()
    endif()
    set(v38_program ${target})
    set(v38_description ${description})
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/program.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${v38_icon_ico})
    add_dependencies(${target} v38_program_icon)
endfunction()
