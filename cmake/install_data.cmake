# What the program installs beside itself: the desktop's files, the bank,
# the documents and the man pages. Included from the top level, where
# GNUInstallDirs has set the folders.
install(FILES data/ondelith.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/ondelith.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES data/io.github.ondelith.Ondelith.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES data/ondelith-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME ondelith.xml)
install(FILES LICENSE README.md CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ondelith)
# The factory bank as files too, for players to open and copy.
install(DIRECTORY data/sounds/ DESTINATION ${CMAKE_INSTALL_DATADIR}/ondelith/sounds)

# The man pages name the bank's folder, which only the install's prefix
# decides (--prefix may differ from the configured one): they are filled in
# and compressed as they are installed.
install(CODE "
  set(ONDELITH_VERSION \"${PROJECT_VERSION}\")
  set(ONDELITH_SOUNDS_DIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/ondelith/sounds\")
  foreach(page ondelith.1 ondelith-render.1)
    configure_file(\"${PROJECT_SOURCE_DIR}/data/\${page}\" \"${CMAKE_BINARY_DIR}/man/\${page}\" @ONLY)
    execute_process(COMMAND gzip -9nc \"${CMAKE_BINARY_DIR}/man/\${page}\"
                    OUTPUT_FILE \"${CMAKE_BINARY_DIR}/man/\${page}.gz\" COMMAND_ERROR_IS_FATAL ANY)
    file(INSTALL \"${CMAKE_BINARY_DIR}/man/\${page}.gz\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man1\")
  endforeach()
")
