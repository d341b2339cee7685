# The Debian package, made by CPack from everything the install rules install:
#   cpack --config build/default/CPackConfig.cmake -B build/default
# gives build/default/marrowbeat_<version>_amd64.deb (scripts/package.sh does this and
# runs lintian on it). Its version is the project's; its library dependencies are found
# by dpkg-shlibdeps; its maintainer scripts refresh the file-type and desktop databases.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME marrowbeat)
set(CPACK_PACKAGE_VENDOR "The Marrowbeat developers")
set(CPACK_PACKAGE_CONTACT "The Marrowbeat developers <developers@marrowbeat.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "step sequencer for WAV sounds")
set(CPACK_PACKAGE_DESCRIPTION [=[
Marrowbeat plays loops of WAV sounds on a sixteen-step grid: every step has
its own sound, pitch, volume and pan, and eight loops chain into each other
with repeat counts. Setups are saved in .mbx files. It plays through
PulseAudio, PipeWire, ALSA or JACK, and a session manager of the NSM protocol
can save and restore it with the other programs of a studio session.

The package also holds marrowbeat-cli, which renders a setup to a WAV file
without a window, and a demo setup with its drum kit.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: Qt's window-system plugins, and
# the fonts that the face's "Arial" and "Verdana" are matched to.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation2, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/postinst
    ${CMAKE_CURRENT_LIST_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

# What Debian asks of every package's documentation folder: the copyright and a
# changelog, compressed without a time stamp.
include(GNUInstallDirs)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/marrowbeat)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/packaging/changelog
    DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog
    COMMENT "Compressing the changelog")
add_custom_target(marrowbeat-changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${doc_dir})

include(CPack)
