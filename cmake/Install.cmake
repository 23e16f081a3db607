# What `cmake --install` puts under the prefix on Linux, and the Debian package made of it
# (`make package`). The programs find their data folder relative to their own folder, so any
# prefix works.
include(GNUInstallDirs)

set(BREVLOAD_PKG ${PROJECT_SOURCE_DIR}/packaging/linux)

if(TARGET brevload-cli)
    install(TARGETS brevload-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# udev reads lib/udev/rules.d below /usr (and /usr/local), never below lib64 or a multiarch folder.
install(FILES ${BREVLOAD_PKG}/70-brevload.rules DESTINATION lib/udev/rules.d)
install(FILES ${BREVLOAD_PKG}/brevload_files/README DESTINATION ${CMAKE_INSTALL_DATADIR}/brevload/brevload_files)
install(FILES ${BREVLOAD_PKG}/brevload.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${BREVLOAD_PKG}/brevload.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${BREVLOAD_PKG}/brevload.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${BREVLOAD_PKG}/brevload-cli.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME brevload-cli)
install(FILES ${BREVLOAD_PKG}/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Man pages made from the programs' own --help and --version, so they cannot drift.
find_program(HELP2MAN help2man)
find_program(GZIP gzip)
if(HELP2MAN AND GZIP)
    set(man_pages)
    foreach(program brevload-cli brevload)
        if(NOT TARGET ${program})
            continue()
        endif()
        if(program STREQUAL "brevload")
            set(what "download firmware to USB mass-storage microcontrollers (window)")
        else()
            set(what "download firmware to USB mass-storage microcontrollers (command line)")
        endif()
        set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1.gz)
        # The window prints its help without opening one; offscreen keeps Qt from looking for a display.
        add_custom_command(
            OUTPUT ${page}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
            COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 ${HELP2MAN} --no-info
                    --section=1 --name=${what} --source=brevload --output=${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1
                    $<TARGET_FILE:${program}>
            COMMAND ${GZIP} -9nf ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1
            DEPENDS ${program}
            COMMENT "Man page of ${program}"
            VERBATIM)
        list(APPEND man_pages ${page})
    endforeach()
    add_custom_target(man_pages ALL DEPENDS ${man_pages})
    install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
    message(STATUS "brevload: help2man not found, no man pages (scripts/install-deps package)")
endif()

# The Debian package.
string(TIMESTAMP BREVLOAD_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brevload)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(BREVLOAD_MAINTAINER "brevload developers <brevload@example.org>"
    CACHE STRING "Maintainer of the Debian package: name <address>")
set(CPACK_PACKAGE_CONTACT "${BREVLOAD_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware downloader for USB mass-storage microcontrollers")
# The summary is the synopsis line; this is the text below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "brevload writes update images to the internal or external flash of\n"
    "microcontrollers that show up as USB disks in download mode, many devices at\n"
    "a time, and checks what was written. It comes as a Qt window for the\n"
    "operator and as brevload-cli for factory lines and scripts. A udev rule\n"
    "gives the logged-in user access to the devices.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${BREVLOAD_PKG}/debian/postinst ${BREVLOAD_PKG}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Debian wants its own changelog, compressed, beside the copyright file.
set(BREVLOAD_DEB_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
configure_file(${BREVLOAD_PKG}/debian/changelog ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian @ONLY)
add_custom_command(
    OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian.gz
    COMMAND ${GZIP} -9nkf ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian
    VERBATIM)
add_custom_target(deb_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
include(CPack)
