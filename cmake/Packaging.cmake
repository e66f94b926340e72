# Installation layout and the Debian package (cpack -G DEB).
include(GNUInstallDirs)

foreach(program vestibar v38ctl v38-lock-sim)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()
if(TARGET vestibar)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/vestibar.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/vestibar.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

set(CPACK_PACKAGE_NAME vestibar)
set(CPACK_PACKAGE_VENDOR "Vestibar")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Configurator of the V38 door-lock controller (ATM-room variant)")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vestibar developers <dev@vestibar.invalid>")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The SVG icons of the windows are drawn through Qt's SVG plugins.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, qt6-qpa-plugins")
set(CPACK_STRIP_FILES ON)
include(CPack)
