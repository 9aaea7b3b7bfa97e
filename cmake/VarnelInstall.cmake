# What `cmake --install` puts where, the desktop integration and the Debian
# package (`cpack -G DEB`, run by tools/package.sh).
#
#   bin/                           varnelpro, varnelpro-cli, varnel-board
#   share/varnelpro/               help page, wave files, pictures/
#   share/applications/            varnelpro.desktop
#   share/mime/packages/           varnelpro.xml, the MIME type of Intel HEX files
#   share/metainfo/                <AppStream id>.metainfo.xml
#   share/icons/hicolor/*/apps/    varnelpro.png, varnelpro.svg
#   share/man/man1/                the three manual pages
#   share/bash-completion/completions/varnelpro-cli
#   lib/udev/rules.d/              1-ms latency timer for FTDI USB serial adapters

set(VARNEL_HOMEPAGE "https://varnel.example.org/" CACHE STRING
    "Home page named by the AppStream metainfo and the package")
set(VARNEL_SCREENSHOT_URL "${VARNEL_HOMEPAGE}screenshots/read-16F84.png" CACHE STRING
    "Screenshot named by the AppStream metainfo (docs/read-16F84.png)")
set(VARNEL_APPSTREAM_ID "org.example.varnel.varnelpro" CACHE STRING
    "AppStream component id, reverse-DNS of the home page")
set(VARNEL_MAINTAINER "Varnel Programmer developers <varnel@example.org>" CACHE STRING
    "Maintainer field of the Debian package")

set(VARNEL_DATA_DIR ${CMAKE_INSTALL_DATADIR}/varnelpro)

foreach(program varnelpro varnelpro-cli varnel-board)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()

install(FILES ${VARNEL_DATA_FILES} DESTINATION ${VARNEL_DATA_DIR})
install(DIRECTORY res/pictures/ DESTINATION ${VARNEL_DATA_DIR}/pictures
        FILES_MATCHING PATTERN "*.bmp" PATTERN "*.png")

install(FILES res/desktop/varnelpro.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The package's trigger runs update-mime-database on the system's tree.
install(FILES res/desktop/varnelpro-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME varnelpro.xml)
set(VARNEL_METAINFO ${CMAKE_BINARY_DIR}/${VARNEL_APPSTREAM_ID}.metainfo.xml)
configure_file(res/desktop/varnelpro.metainfo.xml.in ${VARNEL_METAINFO} @ONLY)
install(FILES ${VARNEL_METAINFO}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY res/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES res/completion/varnelpro-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
# udev reads its rules from lib/, never from lib64/ or a multiarch folder.
install(FILES res/udev/60-varnelpro-latency.rules DESTINATION lib/udev/rules.d)

# Manual pages go out compressed, as Debian keeps them.
set(VARNEL_MAN_PAGES varnelpro varnelpro-cli varnel-board)
set(VARNEL_MAN_GZ "")
foreach(page ${VARNEL_MAN_PAGES})
    set(source ${CMAKE_SOURCE_DIR}/docs/man/${page}.1)
    set(packed ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
    add_custom_command(OUTPUT ${packed}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND gzip -9n -c ${source} > ${packed}
        DEPENDS ${source}
        COMMENT "Compressing the manual page ${page}.1")
    list(APPEND VARNEL_MAN_GZ ${packed})
endforeach()
add_custom_target(varnel_man ALL DEPENDS ${VARNEL_MAN_GZ})
install(FILES ${VARNEL_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnelpro)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VARNEL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "front end for the PicVarnel serial PIC programmer board")
set(CPACK_PACKAGE_DESCRIPTION
    "Programs, reads, verifies and erases 38 PIC microcontrollers of the 12C67x,\n\
12CE67x, 16C55x, 16C6x, 16C7x, 16C8x, 16F8x and 16F87x families on the\n\
PicVarnel board over a serial line. Loads and saves INHX8M HEX files, shows\n\
program memory and data EEPROM, and edits the configuration word, the ID and\n\
the calibration value. Includes varnelpro-cli for scripts and the virtual\n\
board varnel-board.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # varnelpro_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VARNEL_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON) # needs dpkg-shlibdeps (dpkg-dev) and file
# Qt Multimedia plays the sounds through GStreamer: autoaudiosink, pulsesink and
# wavparse are in plugins-good (which pulls in plugins-base); without them the
# program runs silent.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-plugins-good")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gputils, srecord")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
