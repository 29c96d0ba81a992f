# The Debian package tools/package makes: the install tree under /usr, its library
# dependencies read from the binaries by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brenloft)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Velmora project <brenloft@velmora.io>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "download manager with parallel parts and resume")
set(CPACK_PACKAGE_DESCRIPTION
    "Brenloft downloads files over HTTP, HTTPS and FTP, each over up to\n\
eight parallel ranged connections, with a queue, a scheduler, a speed\n\
limiter, pause and resume, ZIP and media previews and a tray icon.\n\
brenloft-get runs the same engine from the command line; VelmoraLauncher\n\
takes addresses from web browsers.")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded as plugins or data, which the binaries do not name: the SVG icons, TGA previews,
# GStreamer for sound and video previews (the rarer formats only recommended), and Qt's own
# translations for its standard buttons and editors in the interface's language; libproxy's
# JavaScript plugin runs the PAC files of the system's proxy settings.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6svg6, qt6-image-formats-plugins, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "gstreamer1.0-plugins-bad, gstreamer1.0-plugins-ugly, gstreamer1.0-libav, libproxy1-plugin-webkit")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The install step writes to /etc for a /usr prefix: staged through DESTDIR.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/../package)
# The browsers' manifests under /etc are the administrator's to edit: kept over upgrades.
set(conffiles ${CMAKE_BINARY_DIR}/install/conffiles)
file(WRITE ${conffiles}
     "/etc/chromium/native-messaging-hosts/velmoraproject.velmora_launcher.json\n"
     "/etc/opt/chrome/native-messaging-hosts/velmoraproject.velmora_launcher.json\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${conffiles})
include(CPack)
