# Installation layout and packages: a Debian package on Linux (cpack -G DEB), a folder
# or ZIP with Qt's libraries beside the programs on Windows (cpack -G ZIP).
include(GNUInstallDirs)

foreach(program vestibar v38ctl v38-lock-sim)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
        if(UNIX AND CMAKE_OBJCOPY)
            # The compiler's name and version in .comment is of no use in a package
            # (Debian's own tools drop it as well).
            install(CODE "execute_process(COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment
                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\"
                COMMAND_ERROR_IS_FATAL ANY)")
        endif()
    endif()
endforeach()

if(TARGET v38ctl)
    # The JSON Schema of v38ctl's configuration documents: beside the other documents
    # on Linux, in doc\ of the installation (installer and ZIP) on Windows.
    if(WIN32)
        set(v38_schema_dir doc)
    else()
        set(v38_schema_dir ${CMAKE_INSTALL_DATADIR}/doc/vestibar)
    endif()
    install(FILES ${PROJECT_SOURCE_DIR}/docs/v38-config.schema.json
                  ${PROJECT_SOURCE_DIR}/docs/v38ctl-output.schema.json
            DESTINATION ${v38_schema_dir})
    if(UNIX)
        # Where bash-completion loads it on demand.
        install(FILES ${PROJECT_SOURCE_DIR}/packaging/completion/v38ctl.bash RENAME v38ctl
                DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
    endif()
endif()

if(TARGET vestibar AND UNIX)
    # The menu entry, its icon, and what software centres show (the AppStream id is
    # the desktop file's name).
    set(v38_app_id example.przykladowa.vestibar)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/${v38_app_id}.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${PROJECT_SOURCE_DIR}/ui/icons/vestibar.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/${v38_app_id}.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

if(UNIX)
    # Manual pages and the changelog go in compressed, as Debian's rules want: gzip -9n,
    # so that the same sources give the same bytes.
    find_program(V38_GZIP gzip REQUIRED)
    set(v38_docs_dir ${CMAKE_INSTALL_DATADIR}/doc/vestibar)
    set(v38_compressed)
    function(v38_compress source output)
        add_custom_command(OUTPUT ${output}
                           COMMAND ${V38_GZIP} -9nc ${source} > ${output}
                           DEPENDS ${source} VERBATIM)
        set(v38_compressed ${v38_compressed} ${output} PARENT_SCOPE)
    endfunction()
    foreach(program vestibar v38ctl v38-lock-sim)
        if(TARGET ${program})
            set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1.gz)
            v38_compress(${PROJECT_SOURCE_DIR}/packaging/man/${program}.1 ${page})
            install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
        endif()
    endforeach()
    v38_compress(${PROJECT_SOURCE_DIR}/packaging/changelog
                 ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
    file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/man)
    add_custom_target(v38_package_docs ALL DEPENDS ${v38_compressed})
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
                  ${PROJECT_SOURCE_DIR}/packaging/copyright
            DESTINATION ${v38_docs_dir})
endif()

if(TARGET vestibar AND WIN32 AND NOT CMAKE_CROSSCOMPILING)
    # Qt's DLLs and plugins (platform, styles) beside vestibar.exe.
    find_package(Qt6 REQUIRED COMPONENTS Core)
    if(Qt6_VERSION VERSION_GREATER_EQUAL 6.5)
        qt_generate_deploy_app_script(TARGET vestibar OUTPUT_SCRIPT v38_deploy_script
                                      NO_UNSUPPORTED_PLATFORM_ERROR)
    else()
        qt_generate_deploy_app_script(TARGET vestibar FILENAME_VARIABLE v38_deploy_script
                                      NO_UNSUPPORTED_PLATFORM_ERROR)
    endif()
    install(SCRIPT ${v38_deploy_script})
elseif(TARGET vestibar AND WIN32)
    # Built on Linux with mingw-w64, where Qt's deployment tool does not run. Beside
    # vestibar.exe: Qt's DLLs, the plugins it loads (platform and style) in the folders
    # Qt looks for them in, the compiler's runtime DLLs that Qt and the configurator
    # share, and the licences of what is shipped. All stripped.
    find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets)
    install(FILES $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>
            DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>
            DESTINATION ${CMAKE_INSTALL_BINDIR}/platforms)
    install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin>
            DESTINATION ${CMAKE_INSTALL_BINDIR}/styles)
    install(FILES ${V38_MINGW_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(DIRECTORY ${QT6_INSTALL_PREFIX}/licenses/ DESTINATION licenses/qt)
    # The runtime's terms (GPL with the runtime library exception; winpthreads' MIT-style
    # notice) as the cross-compiler's packages state them.
    install(FILES /usr/share/doc/gcc-mingw-w64-base/copyright RENAME gcc-runtime.txt
            DESTINATION licenses)
    install(FILES /usr/share/doc/mingw-w64-x86-64-dev/copyright RENAME mingw-w64-runtime.txt
            DESTINATION licenses)
    install(CODE "
        file(GLOB_RECURSE dlls \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/*.dll\")
        foreach(dll \${dlls})
            execute_process(COMMAND ${CMAKE_STRIP} --strip-unneeded \"\${dll}\" RESULT_VARIABLE failed)
            if(failed)
                message(FATAL_ERROR \"cannot strip \${dll}\")
            endif()
        endforeach()")
endif()

set(CPACK_PACKAGE_NAME vestibar)
set(CPACK_PACKAGE_VENDOR "Vestibar")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Configurator of the V38 door-lock controller (ATM-room variant)")
set(CPACK_PACKAGE_DESCRIPTION "Reads the configuration of a V38 lock over a serial port (RS232\n\
to RS485), edits its accepted-card prefixes, flags and times, writes it back,\n\
and keeps configurations in 514-byte files. With v38ctl, the same operations on\n\
the command line, and v38-lock-sim, a lock simulator on a pseudo-terminal for\n\
trying it all without a lock.")
set(CPACK_PACKAGE_VERSION ${v38_version})
set(CPACK_PACKAGE_CONTACT "Vestibar developers <dev@vestibar.invalid>")
set(CPACK_STRIP_FILES ON)
set(v38_homepage "https://www.przykladowa.example/vestibar")
if(WIN32)
    # An installer with a Start-menu folder and an uninstaller, a portable ZIP of the
    # same files, and an MSI of them for PCs that get their software by policy (cpack
    # -G External, which runs cmake/MsiPackage.cmake).
    set(CPACK_GENERATOR NSIS ZIP)
    set(CPACK_PACKAGE_FILE_NAME vestibar-${v38_version}-win64)
    set(CPACK_PACKAGE_INSTALL_DIRECTORY Vestibar)
    # The installer's pages name the version; the installed-programs entry and the
    # Start-menu folder do not, as the MSI's, so that they stay put across upgrades.
    set(CPACK_NSIS_PACKAGE_NAME "Vestibar ${v38_version}")
    set(CPACK_NSIS_DISPLAY_NAME "Vestibar")
    set(CPACK_NSIS_INSTALLED_ICON_NAME bin\\\\vestibar.exe)
    set(CPACK_NSIS_MUI_ICON ${v38_icon_ico})
    set(CPACK_NSIS_MUI_UNIICON ${v38_icon_ico})
    # A newer installer removes the older installation first: its uninstall entry has
    # to be found under the same key whatever the version (CPack's default key holds
    # the version, and an upgrade would leave two entries behind).
    set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Vestibar)
    set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
    # A 64-bit installer for a 64-bit program: it needs no 32-bit layer (WoW64) to run,
    # and installs under the 64-bit Program Files.
    set(CPACK_NSIS_DEFINES "Target amd64-unicode
!define MUI_STARTMENUPAGE_DEFAULTFOLDER Vestibar")
    set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
    set(CPACK_PACKAGE_EXECUTABLES vestibar Vestibar)
    # The list of serial ports, in a console window that stays open to be read. The
    # program's path is quoted (${U+22} is NSIS's double quote): it may hold spaces.
    set(CPACK_NSIS_CREATE_ICONS_EXTRA "
        CreateShortCut '$SMPROGRAMS\\\\$STARTMENU_FOLDER\\\\Porty szeregowe (v38ctl).lnk' '$SYSDIR\\\\cmd.exe' '/k \\\${U+22}$INSTDIR\\\\bin\\\\v38ctl.exe\\\${U+22} ports'")
    set(CPACK_NSIS_DELETE_ICONS_EXTRA "
        Delete '$SMPROGRAMS\\\\$MUI_TEMP\\\\Porty szeregowe (v38ctl).lnk'")
    # The installer keeps its folder under Software\VENDOR\KEY; CPack's uninstaller
    # removes KEY and would leave VENDOR behind, empty.
    set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "
        DeleteRegKey SHCTX 'Software\\\\${CPACK_PACKAGE_VENDOR}\\\\${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}'
        DeleteRegKey /ifempty SHCTX 'Software\\\\${CPACK_PACKAGE_VENDOR}'")
    set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/packaging/windows-licences.txt)
    if(CMAKE_CROSSCOMPILING)
        # The MSI, made with wixl on the build machine.
        find_program(V38_WIXL wixl REQUIRED)
        find_program(V38_WIXL_HEAT wixl-heat REQUIRED)
        list(APPEND CPACK_GENERATOR External)
        set(CPACK_EXTERNAL_ENABLE_STAGING ON)
        set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/MsiPackage.cmake)
        set(CPACK_V38_WIXL ${V38_WIXL})
        set(CPACK_V38_WIXL_HEAT ${V38_WIXL_HEAT})
        set(CPACK_V38_WXS ${PROJECT_SOURCE_DIR}/packaging/vestibar.wxs)
        set(CPACK_V38_ICON ${v38_icon_ico})
        set(CPACK_V38_HOMEPAGE ${v38_homepage})
    endif()
else()
    set(CPACK_GENERATOR DEB)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${v38_homepage})
# dpkg-shlibdeps finds the libraries the programs link, Qt's included (libqt6gui6 pulls
# the X11 platform plugin).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
