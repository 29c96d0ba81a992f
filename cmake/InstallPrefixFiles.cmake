# Run by `cmake --install` (see Install.cmake): writes the files that name the installed
# programs for the prefix being installed to, and installs them.
set(bin "${CMAKE_INSTALL_PREFIX}/${BRENLOFT_BINDIR}")
set(BRENLOFT_DBUS_EXEC "${bin}/Brenloft")
# dbus-daemon splits Exec like a shell would, as the per-user file's writer knows.
if(BRENLOFT_DBUS_EXEC MATCHES "[ \"\\]")
  string(REPLACE "\\" "\\\\" BRENLOFT_DBUS_EXEC "${BRENLOFT_DBUS_EXEC}")
  string(REPLACE "\"" "\\\"" BRENLOFT_DBUS_EXEC "${BRENLOFT_DBUS_EXEC}")
  set(BRENLOFT_DBUS_EXEC "\"${BRENLOFT_DBUS_EXEC}\"")
endif()
set(BRENLOFT_LAUNCHER_PATH "${bin}/VelmoraLauncher")
set(BRENLOFT_GET_EXEC "${bin}/brenloft-get")
set(host ${BRENLOFT_NATIVE_HOST}.json)
configure_file(${BRENLOFT_SOURCE}/data/desktop/VelmoraProject.Velmora.service.in
               ${BRENLOFT_STAGE}/VelmoraProject.Velmora.service @ONLY)
configure_file(${BRENLOFT_STAGE}/chromium.json.in ${BRENLOFT_STAGE}/chromium/${host} @ONLY)
configure_file(${BRENLOFT_STAGE}/mozilla.json.in ${BRENLOFT_STAGE}/mozilla/${host} @ONLY)

configure_file(${BRENLOFT_SOURCE}/data/systemd/brenloft-get.service.in
               ${BRENLOFT_STAGE}/brenloft-get.service @ONLY)

file(INSTALL ${BRENLOFT_STAGE}/VelmoraProject.Velmora.service
     DESTINATION "${CMAKE_INSTALL_PREFIX}/${BRENLOFT_DATADIR}/dbus-1/services")
# brenloft-get --enable-rpc as a systemd user service: systemctl --user enable --now brenloft-get
file(INSTALL ${BRENLOFT_STAGE}/brenloft-get.service
     DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/user")
file(INSTALL ${BRENLOFT_STAGE}/mozilla/${host}
     DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/mozilla/native-messaging-hosts")
# Chromium and Chrome look only under /etc, which for a /usr prefix is the system's /etc.
set(etc "${CMAKE_INSTALL_PREFIX}/etc")
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(etc /etc)
endif()
foreach(folder chromium/native-messaging-hosts opt/chrome/native-messaging-hosts)
  file(INSTALL ${BRENLOFT_STAGE}/chromium/${host} DESTINATION "${etc}/${folder}")
endforeach()
