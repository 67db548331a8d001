# Where `cmake --install` puts the manual pages, shell completion, desktop
# integration and Debian documentation, and the two Debian packages that CPack
# builds from the same rules (`make package`):
#   vellico-cli  the command-line tool, its manual pages, bash, zsh and fish
#                completion, the description of its JSON output, and everything else installed without a component
#                (the message catalogues the two programs share);
#   vellico      the application and its desktop integration, depending on
#                vellico-cli of the same version.
# The root CMakeLists.txt makes "cli" the default install component, so only
# the application's rules name a component ("app").
include(GNUInstallDirs)

set(VELLICO_HELP_URL "${VELLICO_WEBSITE_URL}/help" CACHE STRING
    "Online help, for software centres")
set(VELLICO_BUGTRACKER_URL "${VELLICO_WEBSITE_URL}/issues" CACHE STRING
    "Where users report bugs, for software centres")
set(VELLICO_SCREENSHOTS_URL "${VELLICO_WEBSITE_URL}/screenshots" CACHE STRING
    "Web folder holding the PNG files of docs/screenshots, for software centres")
foreach(url VELLICO_HELP_URL VELLICO_BUGTRACKER_URL VELLICO_SCREENSHOTS_URL)
    if(NOT ${url} MATCHES "^https://[A-Za-z0-9._~:/?#@!$&'()*+,;=%-]+$")
        message(FATAL_ERROR "${url} is not a plain https address: ${${url}}")
    endif()
endforeach()

find_program(SCDOC scdoc REQUIRED)
find_program(GZIP gzip REQUIRED)

set(packaging_dir ${PROJECT_BINARY_DIR}/packaging)
set(debian_dir ${PROJECT_SOURCE_DIR}/resources/debian)
set(packaging_outputs "")

# Manual pages: scdoc source, compressed the way Debian wants (-n: no name or
# time stamp, so the build is reproducible).
function(vellico_man_page name section component)
    set(source ${PROJECT_SOURCE_DIR}/resources/man/${name}.${section}.scd)
    set(page ${packaging_dir}/${name}.${section}.gz)
    add_custom_command(OUTPUT ${page}
        COMMAND sh -c "${SCDOC} < \"$1\" | ${GZIP} -9n > \"$2\"" sh ${source} ${page}
        DEPENDS ${source}
        COMMENT "Manual page ${name}(${section})"
        VERBATIM)
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
        COMPONENT ${component})
    set(packaging_outputs ${packaging_outputs} ${page} PARENT_SCOPE)
endfunction()

# The same pages in the other languages the programs speak, written from the
# message catalogues by tools/man_page.cpp (the usage texts the programs
# print, in that language).
set(VELLICO_MAN_LANGUAGES fr de es ja zh_CN)
function(vellico_translated_man_pages name component)
    foreach(catalogue ${VELLICO_MAN_LANGUAGES})
        set(page ${packaging_dir}/man/${catalogue}/${name}.1.gz)
        add_custom_command(OUTPUT ${page}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${packaging_dir}/man/${catalogue}
            COMMAND sh -c "\"$1\" \"$2\" \"$3\" \"$4\" | ${GZIP} -9n > \"$5\""
                    sh $<TARGET_FILE:vellico-man-page> ${name} ${catalogue}
                    ${PROJECT_BINARY_DIR}/share/locale ${page}
            DEPENDS vellico-man-page vellico_catalogues
                    ${PROJECT_SOURCE_DIR}/resources/translations/${catalogue}.po
            COMMENT "Manual page ${name}(1) in ${catalogue}"
            VERBATIM)
        install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/${catalogue}/man1
            COMPONENT ${component})
        list(APPEND packaging_outputs ${page})
    endforeach()
    set(packaging_outputs ${packaging_outputs} PARENT_SCOPE)
endfunction()

set(changelog ${packaging_dir}/changelog.Debian.gz)
add_custom_command(OUTPUT ${changelog}
    COMMAND sh -c "${GZIP} -9n < \"$1\" > \"$2\"" sh ${debian_dir}/changelog ${changelog}
    DEPENDS ${debian_dir}/changelog
    COMMENT "Compressing the Debian changelog"
    VERBATIM)
list(APPEND packaging_outputs ${changelog})

# The Debian version is the project's version plus a package revision; the
# changelog's latest entry must name it, or lintian and apt disagree on it.
set(VELLICO_DEBIAN_REVISION 1)
set(debian_version ${PROJECT_VERSION}-${VELLICO_DEBIAN_REVISION})
file(STRINGS ${debian_dir}/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^vellico \\(${debian_version}\\) ")
    message(FATAL_ERROR "resources/debian/changelog does not start with version ${debian_version}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${debian_dir}/changelog)

# The Debian documentation every package carries.
function(vellico_debian_docs package component)
    install(FILES ${debian_dir}/copyright ${changelog}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
    install(FILES ${debian_dir}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME ${package} COMPONENT ${component})
endfunction()

vellico_man_page(vellico-cli 1 cli)
vellico_translated_man_pages(vellico-cli cli)
vellico_debian_docs(vellico-cli cli)
install(FILES ${PROJECT_SOURCE_DIR}/resources/completion/vellico-cli.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME vellico-cli COMPONENT cli)
install(FILES ${PROJECT_SOURCE_DIR}/resources/completion/_vellico-cli
    DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions COMPONENT cli)
install(FILES ${PROJECT_SOURCE_DIR}/resources/completion/vellico-cli.fish
    DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d COMPONENT cli)
# The JSON output's description, which the manual page points to.
install(FILES ${PROJECT_SOURCE_DIR}/docs/json.md
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vellico-cli COMPONENT cli)

if(VELLICO_BUILD_GUI)
    find_program(RSVG_CONVERT rsvg-convert REQUIRED)

    vellico_man_page(vellico 1 app)
    vellico_translated_man_pages(vellico app)
    vellico_debian_docs(vellico app)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/vellico.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT app)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/vellico.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT app)

    # The icon drawn at the sizes menus and docks ask for, from the SVG.
    foreach(size 16 32 48 64 128 256)
        set(png ${packaging_dir}/icons/${size}/vellico.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${packaging_dir}/icons/${size}
            COMMAND ${RSVG_CONVERT} --width ${size} --height ${size} --keep-aspect-ratio
                    --output ${png} ${PROJECT_SOURCE_DIR}/resources/icons/vellico.svg
            DEPENDS ${PROJECT_SOURCE_DIR}/resources/icons/vellico.svg
            COMMENT "Icon ${size}x${size}"
            VERBATIM)
        install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            COMPONENT app)
        list(APPEND packaging_outputs ${png})
    endforeach()

    # The release date of the AppStream file is the changelog's latest date
    # ("Sun, 06 Dec 2026 12:00:00 +0000").
    file(STRINGS ${debian_dir}/changelog changelog_signoff REGEX "^ -- " LIMIT_COUNT 1)
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    if(NOT changelog_signoff MATCHES ", ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
        message(FATAL_ERROR "resources/debian/changelog: no date in ${changelog_signoff}")
    endif()
    list(FIND months ${CMAKE_MATCH_2} month_index)
    math(EXPR month "${month_index} + 101")
    string(SUBSTRING ${month} 1 2 month)
    set(VELLICO_RELEASE_DATE ${CMAKE_MATCH_3}-${month}-${CMAKE_MATCH_1})
    configure_file(${PROJECT_SOURCE_DIR}/resources/app.vellico.Vellico.metainfo.xml.in
        ${packaging_dir}/app.vellico.Vellico.metainfo.xml @ONLY)
    install(FILES ${packaging_dir}/app.vellico.Vellico.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT app)
endif()

add_custom_target(vellico_packaging_files ALL DEPENDS ${packaging_outputs})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vellico)
set(CPACK_PACKAGE_VENDOR Vellico)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VELLICO_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vellico <${VELLICO_SUPPORT_EMAIL}>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VELLICO_WEBSITE_URL})
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Both packages come from one source, named in the Debian changelog.
set(CPACK_DEBIAN_PACKAGE_SOURCE vellico)
# The libraries each program links come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

# No CPACK_PACKAGE_DESCRIPTION_SUMMARY: CPack would put it on top of both
# descriptions. Each description's first line is its package's synopsis.
set(CPACK_DEBIAN_CLI_PACKAGE_NAME vellico-cli)
set(CPACK_DEBIAN_CLI_DESCRIPTION
    "reclaim disk space inside Final Cut Pro libraries (command line)\n\
vellico-cli analyses Final Cut Pro library bundles (.fcpbundle) and deletes\n\
the generated media the editor can rebuild: render files, analysis files,\n\
transcoded media, shared items and old backups. It works on many libraries at\n\
once, holds the editor's own library lock while it deletes, and writes JSON\n\
for scripts.\n\
.\n\
This package needs no graphical environment, so it suits file servers.")
set(CPACK_COMPONENTS_ALL cli)

if(VELLICO_BUILD_GUI)
    set(CPACK_DEBIAN_APP_PACKAGE_NAME vellico)
    set(CPACK_COMPONENT_APP_DEPENDS cli)
    set(CPACK_DEBIAN_APP_DESCRIPTION
        "reclaim disk space inside Final Cut Pro libraries\n\
Vellico analyses a Final Cut Pro library bundle (.fcpbundle), lists the\n\
generated media the editor can rebuild with their sizes, preselects them by\n\
editing stage, and deletes the folders you choose while holding the library's\n\
lock. It never touches the library's database or the original media.\n\
.\n\
This package holds the desktop application; vellico-cli does the same from a\n\
terminal.")
    set(CPACK_DEBIAN_APP_PACKAGE_RECOMMENDS "qt6-translations-l10n, xdg-utils")
    set(CPACK_COMPONENTS_ALL cli app)
endif()
include(CPack)
