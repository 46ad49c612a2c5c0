# Installation in the usual places of a Linux desktop program, and a Debian
# package built from it with `cpack -G DEB`.
#
# An installed executable finds <bin>/../share/qx-7alt and therefore keeps the
# user's settings in the user's configuration folder instead of beside itself;
# the layout below must keep that folder next to the programs' folder.
include(GNUInstallDirs)

set(QX_APP_ID io.example.qx7alt)

install(TARGETS qx-7alt qx7-emulator RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/${QX_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/qx-7alt.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
configure_file(${PROJECT_SOURCE_DIR}/data/${QX_APP_ID}.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/data/${QX_APP_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/data/${QX_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# The shared files folder: a README and the language files shipped with the program.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/shared/ DESTINATION ${CMAKE_INSTALL_DATADIR}/qx-7alt)

# The installation test runs this very cmake on this build folder.
if(TARGET tst_install)
  target_compile_definitions(tst_install PRIVATE QX_CMAKE_COMMAND="${CMAKE_COMMAND}"
                                                 QX_BUILD_DIR="${PROJECT_BINARY_DIR}")
endif()

set(CPACK_PACKAGE_NAME qx-7alt)
set(CPACK_PACKAGE_VENDOR "QX-7alt developers")
set(CPACK_PACKAGE_CONTACT "QX-7alt developers <qx-7alt@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Control panel for a QX-7 multi-window video processor")
set(CPACK_PACKAGE_DESCRIPTION "The operator's panel for one QX-7 video processor over a serial port or TCP: \
preset recall, window and input switching, image bank loading, names and interface languages. \
Includes qx7-emulator, a stand-in for the device.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
# The Qt 6 runtime the programs link: dpkg-shlibdeps reads it off the
# executables where it is at hand (with the C and C++ runtime), else the list
# is given here. The platform plugins a window needs are no linked library.
find_program(QX_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(QX_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6network6 (>= 6.4), libqt6serialport6 (>= 6.4), qt6-qpa-plugins")
endif()
include(CPack)
