# What an installed Brenloft needs besides its programs, the languages and the extension: the
# desktop entry, the AppStream description, the icons, the session bus activation file, the
# browsers' host manifests and the man pages. Every path is relative to the prefix except
# where a file must name the installed program itself.
include(GNUInstallDirs)

install(FILES data/desktop/brenloft.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/desktop/io.velmora.Brenloft.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# PNG sizes for desktops that do not draw SVG icons, made from the one drawing at build time.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
set(icon_sizes 16 22 24 32 48 64 128 256)
set(icon_pngs)
foreach(size ${icon_sizes})
  set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/brenloft.png)
  add_custom_command(
    OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
    COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png}
            ${CMAKE_SOURCE_DIR}/data/icons/brenloft.svg
    DEPENDS ${CMAKE_SOURCE_DIR}/data/icons/brenloft.svg
    COMMENT "Drawing the ${size} px program icon"
    VERBATIM)
  list(APPEND icon_pngs ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(program_icons ALL DEPENDS ${icon_pngs})

# The host name and extension ids are those the program writes into the per-user manifests,
# read from the one header that holds them so that the two cannot drift apart.
file(READ integration/browsers/extension_ids.h extension_ids)
foreach(name NativeHostName ChromiumId GeckoId)
  if(NOT extension_ids MATCHES "${name}\\[\\] = \"([^\"]+)\"")
    message(FATAL_ERROR "integration/browsers/extension_ids.h names no ${name}")
  endif()
  set(${name} ${CMAKE_MATCH_1})
endforeach()
set(BRENLOFT_NATIVE_HOST ${NativeHostName})
# Left for the install step to fill.
set(BRENLOFT_LAUNCHER_PATH "@BRENLOFT_LAUNCHER_PATH@")
set(BRENLOFT_ALLOWED "\"allowed_origins\": [\"chrome-extension://${ChromiumId}/\"]")
configure_file(data/desktop/native-host.json.in ${CMAKE_BINARY_DIR}/install/chromium.json.in @ONLY)
set(BRENLOFT_ALLOWED "\"allowed_extensions\": [\"${GeckoId}\"]")
configure_file(data/desktop/native-host.json.in ${CMAKE_BINARY_DIR}/install/mozilla.json.in @ONLY)

# The activation file and the host manifests name the installed programs, so they are written
# when installing, for the prefix given then (cmake --install --prefix, or /usr in the package).
# The per-user activation file the program writes at start-up names wherever it runs from, and
# takes precedence for that user.
install(CODE "
  set(BRENLOFT_NATIVE_HOST ${NativeHostName})
  set(BRENLOFT_STAGE ${CMAKE_BINARY_DIR}/install)
  set(BRENLOFT_SOURCE ${CMAKE_SOURCE_DIR})
  set(BRENLOFT_BINDIR ${CMAKE_INSTALL_BINDIR})
  set(BRENLOFT_DATADIR ${CMAKE_INSTALL_DATADIR})
  include(${CMAKE_SOURCE_DIR}/cmake/InstallPrefixFiles.cmake)
")

# Man pages compressed as Debian keeps them; man reads them so under any prefix.
find_program(GZIP gzip REQUIRED)
set(man_pages)
foreach(page brenloft-get Brenloft VelmoraLauncher updater)
  configure_file(data/man/${page}.1 ${CMAKE_BINARY_DIR}/man/${page}.1 @ONLY)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.1.gz
    COMMAND ${GZIP} -9 -n -f -k ${CMAKE_BINARY_DIR}/man/${page}.1
    DEPENDS ${CMAKE_BINARY_DIR}/man/${page}.1
    VERBATIM)
  list(APPEND man_pages ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The package's documentation folder as Debian wants it: the copyright file and the change
# log compressed without a time stamp, so that the same build makes the same file.
configure_file(data/desktop/changelog.in ${CMAKE_BINARY_DIR}/install/changelog @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/install/changelog.gz
  COMMAND ${GZIP} -9 -n -f -k ${CMAKE_BINARY_DIR}/install/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/install/changelog
  VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/install/changelog.gz)
install(FILES data/desktop/copyright ${CMAKE_BINARY_DIR}/install/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/brenloft)
# Google Chrome reads its host manifests only from /etc/opt/chrome.
install(FILES data/desktop/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME brenloft)
