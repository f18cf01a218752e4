# `cmake --install` and the Debian package (cpack). The layout is described where
# TELVANE_INSTALL_LIBDIR is set; tools/InstalledAssets.h must agree with it.
include(GNUInstallDirs)

install(TARGETS telvane-device telvane-replay RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/themes ${CMAKE_SOURCE_DIR}/traductions
                  ${CMAKE_SOURCE_DIR}/help DESTINATION ${TELVANE_INSTALL_DATADIR})
# The user-service templates, which `telvane-device install --backend linux` fills in.
file(GLOB unit_templates CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/dist/systemd/*.service.in)
install(FILES ${unit_templates} DESTINATION ${TELVANE_INSTALL_DATADIR}/systemd)

if(TELVANE_BUILD_UI)
  install(TARGETS telvane telvane-today RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(TARGETS telvane_phone LIBRARY DESTINATION ${TELVANE_INSTALL_LIBDIR})
  # The item is copied onto the device and loaded by a home screen that already holds the
  # phone's system library.
  set_target_properties(TodayTelvane PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS TodayTelvane LIBRARY DESTINATION ${TELVANE_INSTALL_LIBDIR})
  # The images drawn at build time (absent when Qt SVG was missing).
  install(DIRECTORY ${TELVANE_BUILT_ASSET_DIR}/ DESTINATION ${TELVANE_INSTALL_DATADIR}/images
          OPTIONAL)
endif()

# The user services for every user of the machine (a user enables them with systemctl --user):
# filled in at install time, as only then is the final prefix known (cpack installs under /usr).
install(CODE "
  set(TELVANE_DEVICE_BIN \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/telvane-device\")
  set(TELVANE_BIN \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/telvane\")
  set(TELVANE_UNIT_ENVIRONMENT \"# The device folder: \$TELVANE_DEVICE, else \$XDG_DATA_HOME/telvane/device.\")
  foreach(template ${unit_templates})
    get_filename_component(unit \${template} NAME_WLE)
    configure_file(\${template} \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/user/\${unit}\" @ONLY)
    message(STATUS \"Installing: \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/user/\${unit}\")
  endforeach()
")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME telvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Phone profile manager for Linux phones")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Switches the phone's radio, Bluetooth, Wi-Fi, data connections, sound profile and more "
       "by place and time, from the cell the phone is in, over the machine's ModemManager, "
       "BlueZ, NetworkManager, UPower, feedbackd and logind.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The build keeps line tables for backtraces; the package does not need them.
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Telvane developers <telvane@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The Debian runtime packages of the libraries the installed programs link (Qt SVG only draws the
# images at build time; the installed programs read the drawn PNG and JPEG files).
set(telvane_deb_depends "libc6, libgcc-s1, libstdc++6, libsqlite3-0, libsodium23, libpugixml1v5")
if(TELVANE_BUILD_UI)
  string(APPEND telvane_deb_depends ", libqt6core6, libqt6gui6, libqt6widgets6")
endif()
if(TELVANE_LINUX_BACKEND)
  string(APPEND telvane_deb_depends ", libsdbus-c++1")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS ${telvane_deb_depends})
# The services the Linux backend talks to, and Qt's Wayland platform for a phone's session.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "modemmanager, network-manager, bluez, upower, feedbackd, systemd, qt6-wayland")
include(CPack)
