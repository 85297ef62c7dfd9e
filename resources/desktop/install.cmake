# The installed program: the host with its native modules, style sheet, display fonts and the
# packed demo in lib/remote (the host finds them beside itself), a command in bin, the packer, a desktop entry,
# an icon and the documentation.
set(REMOTE_LIBDIR lib/remote)

# The demo packed into bundle.bin from a copy of remote/ that holds nothing else.
file(GLOB_RECURSE DEMO_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/remote/*)
set(DEMO_STAGE ${CMAKE_BINARY_DIR}/demo)
add_custom_command(
    OUTPUT ${DEMO_STAGE}/bundle.bin
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${DEMO_STAGE}/remote
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/remote ${DEMO_STAGE}/remote
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 $<TARGET_FILE:remote-pack>
            ${DEMO_STAGE} -o ${DEMO_STAGE}/bundle.bin
            -a remote/screenplay.fountain -a remote/sample.pdf
    DEPENDS remote-pack ${DEMO_FILES}
    VERBATIM)
add_custom_target(demobundle ALL DEPENDS ${DEMO_STAGE}/bundle.bin)

# bin/remote points into lib/remote; the host resolves the link and finds its files there.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/links)
file(CREATE_LINK ../${REMOTE_LIBDIR}/remote ${CMAKE_BINARY_DIR}/links/remote SYMBOLIC)

install(TARGETS remote RUNTIME DESTINATION ${REMOTE_LIBDIR})
get_property(NATIVE_MODULES GLOBAL PROPERTY REMOTE_NATIVE_MODULES)
install(TARGETS ${NATIVE_MODULES} LIBRARY DESTINATION ${REMOTE_LIBDIR}/native)
install(TARGETS remote-pack RUNTIME DESTINATION bin)
install(FILES ${CMAKE_BINARY_DIR}/links/remote DESTINATION bin)
install(FILES ${DEMO_STAGE}/bundle.bin ${CMAKE_SOURCE_DIR}/resources/stylesheet.css
    DESTINATION ${REMOTE_LIBDIR})
install(DIRECTORY ${CMAKE_BINARY_DIR}/bin/ DESTINATION ${REMOTE_LIBDIR} FILES_MATCHING PATTERN "*.ttf")
set(DESKTOP ${CMAKE_SOURCE_DIR}/resources/desktop)
install(FILES ${DESKTOP}/remote.desktop DESTINATION share/applications)
install(FILES ${DESKTOP}/remote.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES /usr/share/doc/fonts-dseg/copyright DESTINATION share/doc/remote
    RENAME fonts-dseg-copyright)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/doc/lua-api.md
    ${CMAKE_BINARY_DIR}/resources/generated/images/sprites-LICENSE.txt
    DESTINATION share/doc/remote)

set(CPACK_PACKAGE_NAME remote)
set(CPACK_PACKAGE_VERSION 0.5.0)
set(CPACK_PACKAGE_VENDOR Vantor)
set(CPACK_PACKAGE_CONTACT "Vantor <remote@vantor.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Host for touch remote-control applications written in Lua")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# Loaded at run time or used through plugins, so the library scan does not see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libmp3lame0, libqt5multimedia5-plugins, gstreamer1.0-plugins-good, gstreamer1.0-pulseaudio, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "avahi-daemon")
include(CPack)
