# Where `cmake --install` puts the desktop integration, and the Debian
# package that CPack builds from the same rules (`cmake --build <dir>
# --target package`, or `make package` with the Makefile generator).
include(GNUInstallDirs)

if(VELLICO_BUILD_GUI)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/vellico.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/app.vellico.Vellico.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/vellico.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vellico)
set(CPACK_PACKAGE_VENDOR Vellico)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Reclaims disk space inside Final Cut Pro libraries")
set(CPACK_PACKAGE_DESCRIPTION
    "Vellico analyses Final Cut Pro library bundles (.fcpbundle) and deletes the generated\n\
media the editor can rebuild: render files, analysis files, transcoded media and backups.\n\
It ships the desktop application (vellico) and the command-line tool (vellico-cli).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vellico <${VELLICO_SUPPORT_EMAIL}>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VELLICO_WEBSITE_URL})
set(CPACK_DEBIAN_PACKAGE_SECTION video)
# The libraries linked come from dpkg-shlibdeps; Qt's platform and SVG
# plugins are loaded at run time, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(VELLICO_BUILD_GUI)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, xdg-utils")
endif()
include(CPack)
