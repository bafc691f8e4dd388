# The Debian package: `make package` (cpack -G DEB in the build directory) writes
# quenby_<version>_<arch>.deb into the build directory. It holds what the install rules install: the
# program, its desktop entry, its icon, and from here its man page, copyright and changelog.
# Depends is computed from the binaries by dpkg-shlibdeps.
include(GNUInstallDirs)

set(QUENBY_PACKAGE_MAINTAINER "Quenby maintainers <maintainers@quenby.example>"
    CACHE STRING "Maintainer field of the Debian package")

# Debian wants man pages and changelogs compressed with gzip -9 and no time stamp (-n).
set(QUENBY_PACKAGE_FILES ${CMAKE_SOURCE_DIR}/app/quenby.1 ${CMAKE_SOURCE_DIR}/packaging/changelog)
set(QUENBY_GZ_DIR ${CMAKE_BINARY_DIR}/package-files)
add_custom_command(
    OUTPUT ${QUENBY_GZ_DIR}/quenby.1.gz ${QUENBY_GZ_DIR}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUENBY_GZ_DIR}
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/app/quenby.1 > ${QUENBY_GZ_DIR}/quenby.1.gz
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/packaging/changelog > ${QUENBY_GZ_DIR}/changelog.gz
    DEPENDS ${QUENBY_PACKAGE_FILES}
    VERBATIM)
add_custom_target(quenby-package-files ALL
    DEPENDS ${QUENBY_GZ_DIR}/quenby.1.gz ${QUENBY_GZ_DIR}/changelog.gz)

install(FILES ${QUENBY_GZ_DIR}/quenby.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/copyright ${QUENBY_GZ_DIR}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quenby)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QUENBY_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUENBY_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "bench monitor for a two-channel A/D converter board on a serial port")
# The summary is the synopsis line; this is the long description under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Quenby polls a serial port every 50 ms, logs each chunk of text the board
sends, and shows each channel's newest reading with its running maximum,
minimum and difference. It also sends the test bytes 0x55 and 0xAA and
transfers S and HEX files to the board byte by byte.")
include(CPack)
