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
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/data/icons/${size}x${size}/qx-7alt.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
# AppStream wants screenshots on the web; the package carries them too.
set(QX_SCREENSHOTS_URL "https://www.norvel.example/qx-7/screenshots")
set(QX_SCREENSHOTS switching upload files link-lost)
configure_file(${PROJECT_SOURCE_DIR}/data/${QX_APP_ID}.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/data/${QX_APP_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/data/${QX_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# The shared files folder: a README and the language files shipped with the program.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/shared/ DESTINATION ${CMAKE_INSTALL_DATADIR}/qx-7alt)

# The shipped languages: the English one (so the language box can always go back to English) and the
# translations. Their head and About title carry this version; lines end in CR LF, text is UTF-8. They land
# in build/data/languages, never in build/share, which would make the built program think it is installed.
set(QX_LANGUAGE_DIR ${PROJECT_BINARY_DIR}/data/languages)
foreach(code EN DE)
  configure_file(${PROJECT_SOURCE_DIR}/data/languages/QX-7alt_${code}.lng.in
                 ${QX_LANGUAGE_DIR}/QX-7alt_${code}.lng @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${QX_LANGUAGE_DIR}/QX-7alt_${code}.lng DESTINATION ${CMAKE_INSTALL_DATADIR}/qx-7alt)
endforeach()

# The package's documentation folder: the copyright file, the changelog compressed as Debian wants it
# (gzip -9, no name or time stamp in it) and the screenshots.
set(QX_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/qx-7alt)
file(STRINGS ${PROJECT_SOURCE_DIR}/data/changelog QX_NEWEST_RELEASE LIMIT_COUNT 1)
if(NOT QX_NEWEST_RELEASE MATCHES "^qx-7alt \\(${PROJECT_VERSION}\\)")
  message(WARNING "data/changelog has no entry for ${PROJECT_VERSION} at its top (nor, likely, the metainfo's releases)")
endif()
install(FILES ${PROJECT_SOURCE_DIR}/data/copyright DESTINATION ${QX_DOC_DIR})
# The manual pages go compressed the same way.
find_program(QX_GZIP gzip)
foreach(page qx-7alt qx7-emulator)
  configure_file(${PROJECT_SOURCE_DIR}/data/man/${page}.1.in ${PROJECT_BINARY_DIR}/data/man/${page}.1 @ONLY)
endforeach()
if(QX_GZIP)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/data/changelog)
  execute_process(COMMAND ${QX_GZIP} -9nc ${PROJECT_SOURCE_DIR}/data/changelog
                  OUTPUT_FILE ${PROJECT_BINARY_DIR}/data/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${PROJECT_BINARY_DIR}/data/changelog.gz DESTINATION ${QX_DOC_DIR})
  foreach(page qx-7alt qx7-emulator)
    execute_process(COMMAND ${QX_GZIP} -9nc ${PROJECT_BINARY_DIR}/data/man/${page}.1
                    OUTPUT_FILE ${PROJECT_BINARY_DIR}/data/man/${page}.1.gz COMMAND_ERROR_IS_FATAL ANY)
    install(FILES ${PROJECT_BINARY_DIR}/data/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
else()
  install(FILES ${PROJECT_SOURCE_DIR}/data/changelog DESTINATION ${QX_DOC_DIR})
  install(FILES ${PROJECT_BINARY_DIR}/data/man/qx-7alt.1 ${PROJECT_BINARY_DIR}/data/man/qx7-emulator.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
list(TRANSFORM QX_SCREENSHOTS PREPEND ${PROJECT_SOURCE_DIR}/docs/)
list(TRANSFORM QX_SCREENSHOTS APPEND .png)
install(FILES ${QX_SCREENSHOTS} DESTINATION ${QX_DOC_DIR}/screenshots)

# The installation test runs this very cmake on this build folder.
if(TARGET tst_install)
  target_compile_definitions(tst_install PRIVATE QX_CMAKE_COMMAND="${CMAKE_COMMAND}"
                                                 QX_BUILD_DIR="${PROJECT_BINARY_DIR}")
endif()
if(TARGET tst_language)
  target_compile_definitions(tst_language PRIVATE QX_LANGUAGE_DIR="${QX_LANGUAGE_DIR}")
endif()

set(CPACK_PACKAGE_NAME qx-7alt)
set(CPACK_PACKAGE_VENDOR "QX-7alt developers")
set(CPACK_PACKAGE_CONTACT "QX-7alt developers <qx-7alt@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Control panel for a QX-7 multi-window video processor")
# Debian wraps nothing: the description's lines are given as they are to show.
set(CPACK_PACKAGE_DESCRIPTION "The operator's panel for one QX-7 video processor over a serial port or TCP:
preset recall, window and input switching, image bank loading, names and
interface languages (English and German). Includes qx7-emulator, a stand-in
for the device.")
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
      "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6network6 (>= 6.4), libqt6serialport6 (>= 6.4), libqt6httpserver6 (>= 6.4), libqt6websockets6 (>= 6.4), libjpeg62-turbo (>= 1:2.1), liblo7 (>= 0.31), libqrencode4 (>= 4.1), qt6-qpa-plugins")
endif()
# The toolkit's translations give the standard buttons and the text box menus
# the language of the language file; without them those stay English.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
include(CPack)
