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
  set(CPACK_GENERATOR DEB)
else()
  set(CPACK_GENERATOR ZIP)
endif()
set(CPACK_PACKAGE_NAME norva)
set(CPACK_PACKAGE_VENDOR Kestrel)
set(CPACK_PACKAGE_CONTACT "Kestrel <norva@kestrel.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop client of the Kestrel objectives and tasks service")
set(CPACK_PACKAGE_DESCRIPTION
  "Norva (青隼) opens the objectives and tasks web application in its own window and adds\n\
desktop notices, saved logins, a life in the notification area, a global hotkey and\n\
self-update.")
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
