# Installation (cmake --install) and the Debian package (cpack, see scripts/package.sh).
include(GNUInstallDirs)

install(TARGETS norva RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(NORVA_X11)
  # hicolor icons cut from the application icon at build time, so they never drift from it.
  set(NORVA_ICON_SIZES 16 24 32 48 64 128 256)
  set(NORVA_ICON_DIR ${CMAKE_CURRENT_BINARY_DIR}/icons/hicolor)
  add_executable(exporticons resources/exporticons.cpp)
  target_link_libraries(exporticons PRIVATE Qt5::Gui)
  set(icon_files)
  foreach(size ${NORVA_ICON_SIZES})
    list(APPEND icon_files ${NORVA_ICON_DIR}/${size}x${size}/apps/${NORVA_APP_ID}.png)
  endforeach()
  add_custom_command(OUTPUT ${icon_files}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
            $<TARGET_FILE:exporticons> ${CMAKE_CURRENT_SOURCE_DIR}/resources/AppIcon.ico
            ${NORVA_ICON_DIR} ${NORVA_APP_ID} ${NORVA_ICON_SIZES}
    DEPENDS exporticons ${CMAKE_CURRENT_SOURCE_DIR}/resources/AppIcon.ico
    COMMENT "Cutting the hicolor icons from AppIcon.ico")
  add_custom_target(norva_icons ALL DEPENDS ${icon_files})

  foreach(size ${NORVA_ICON_SIZES})
    install(FILES ${NORVA_ICON_DIR}/${size}x${size}/apps/${NORVA_APP_ID}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  install(FILES resources/desktop/${NORVA_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES resources/desktop/${NORVA_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

if(NORVA_X11)
  # Debian's documentation: the manual page, the changelog and the copyright file. Compressed
  # the way dpkg-dev does it (maximum compression, no time stamp), so the package is the same
  # from build to build.
  set(NORVA_DEBIAN_DIR ${CMAKE_CURRENT_SOURCE_DIR}/resources/debian)
  set(NORVA_DOC_DIR ${CMAKE_CURRENT_BINARY_DIR}/debian)
  find_program(NORVA_GZIP gzip REQUIRED)
  set(NORVA_GZ_FILES)
  foreach(pair "norva.1:norva.1.gz" "changelog:changelog.gz")
    string(REPLACE ":" ";" pair ${pair})
    list(GET pair 0 source)
    list(GET pair 1 target)
    add_custom_command(OUTPUT ${NORVA_DOC_DIR}/${target}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${NORVA_DOC_DIR}
      COMMAND ${NORVA_GZIP} -9n -c ${NORVA_DEBIAN_DIR}/${source} > ${NORVA_DOC_DIR}/${target}
      DEPENDS ${NORVA_DEBIAN_DIR}/${source}
      COMMENT "Compressing ${source}")
    list(APPEND NORVA_GZ_FILES ${NORVA_DOC_DIR}/${target})
  endforeach()
  add_custom_target(norva_docs ALL DEPENDS ${NORVA_GZ_FILES})
  install(FILES ${NORVA_DOC_DIR}/norva.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # The version has no Debian revision (the package is built where the program is made), so
  # the changelog is the native package's changelog.gz.
  install(FILES ${NORVA_DOC_DIR}/changelog.gz ${NORVA_DEBIAN_DIR}/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/norva)

  set(CPACK_GENERATOR DEB)
else()
  set(CPACK_GENERATOR ZIP)
endif()
set(CPACK_PACKAGE_NAME norva)
set(CPACK_PACKAGE_VENDOR Kestrel)
set(CPACK_PACKAGE_CONTACT "Kestrel <norva@kestrel.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop client of the Kestrel objectives and tasks service")
# Debian shows the description in 80 columns: each line stays under that.
set(CPACK_PACKAGE_DESCRIPTION
  "Norva (青隼) opens the objectives and tasks web application in its own\n\
window and adds desktop notices, saved logins, a life in the notification\n\
area, a global hotkey and self-update.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${NORVA_SERVICE_URL})
# Libraries the program links come from dpkg-shlibdeps. Qt loads these at run time as plugins,
# which no linker records: the SQLite driver of the saved logins and the media back end of the
# notice sound.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt5sql5-sqlite, libqt5multimedia5-plugins")
# QtKeychain reaches the Secret Service through libsecret, which it loads at run time; without
# it (or a keyring) saved passwords keep their unprotected form.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-plugins-good, libsecret-1-0")
include(CPack)
