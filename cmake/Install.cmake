# Installation under any prefix (a user prefix such as ~/.local works): the executable, its
# images, the licence and a desktop entry that makes it the handler of both redirect schemes.

include (GNUInstallDirs)

install (TARGETS ZembrikAuthorizer RUNTIME DESTINATION bin)
install (FILES ${ZEMBRIK_IMAGE_FILES} DESTINATION "${ZEMBRIK_RESOURCE_DIR_NAME}")
install (FILES "${CMAKE_CURRENT_SOURCE_DIR}/LICENSE" DESTINATION share/doc/zembrik-authorizer)

# The Exec line names the installed binary, so the entry is written when the prefix is known,
# which `cmake --install --prefix` may change after configuring.
install (CODE "
    set (binary \"\${CMAKE_INSTALL_PREFIX}/bin/zembrik-authorizer\")
    # Desktop entries quote a path with reserved characters and escape \\\\ \\\" \\` \\$ inside.
    if (binary MATCHES \"[ \\t\\\"'\\\\\\\\><~|&;\\$*?#()`]\")
        string (REPLACE \"\\\\\" \"\\\\\\\\\\\\\\\\\" escaped \"\${binary}\")
        string (REPLACE \"\\\"\" \"\\\\\\\\\\\"\" escaped \"\${escaped}\")
        string (REPLACE \"`\" \"\\\\\\\\`\" escaped \"\${escaped}\")
        string (REPLACE \"\\$\" \"\\\\\\\\\\$\" escaped \"\${escaped}\")
        set (ZEMBRIK_DESKTOP_EXEC \"\\\"\${escaped}\\\"\")
    else()
        set (ZEMBRIK_DESKTOP_EXEC \"\${binary}\")
    endif()
    configure_file (\"${CMAKE_CURRENT_SOURCE_DIR}/packaging/zembrik-authorizer.desktop.in\"
                    \"${CMAKE_CURRENT_BINARY_DIR}/packaging/zembrik-authorizer.desktop\" @ONLY)
")
install (FILES "${CMAKE_CURRENT_BINARY_DIR}/packaging/zembrik-authorizer.desktop"
         DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
