# Installation and the Debian package (cpack -G DEB in a Release build; see
# scripts/package.sh). The programs go to bin, with a desktop entry, the icon at the usual
# hicolor sizes, bash completion for the command-line tool, a udev rule that gives the logged-in user the device's port and keeps
# ModemManager off it, and the licence and changelog.
include(GNUInstallDirs)

set(usb_packaging_dir "${PROJECT_SOURCE_DIR}/packaging/linux")
set(usb_doc_dir "${CMAKE_INSTALL_DATAROOTDIR}/doc/usb-file-utility")

foreach(program usb-file-utility usb-file-utility-cli)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()

if(NOT WIN32)
    install(FILES "${usb_packaging_dir}/usb-file-utility.desktop"
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
    foreach(size 16 32 48 64 128 256)
        install(FILES "${PROJECT_SOURCE_DIR}/src/resources/icons/usb-file-utility-${size}.png"
                DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
                RENAME usb-file-utility.png)
    endforeach()
    install(FILES "${usb_packaging_dir}/60-usb-file-utility.rules" DESTINATION lib/udev/rules.d)
    install(FILES "${usb_packaging_dir}/usb-file-utility-cli.bash-completion"
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
            RENAME usb-file-utility-cli)

    # Debian keeps changelogs compressed, with no time stamp in the gzip header.
    set(usb_changelog "${CMAKE_CURRENT_BINARY_DIR}/changelog.gz")
    add_custom_command(OUTPUT "${usb_changelog}"
        COMMAND gzip -9nc "${usb_packaging_dir}/changelog" > "${usb_changelog}"
        DEPENDS "${usb_packaging_dir}/changelog")
    add_custom_target(usb_changelog ALL DEPENDS "${usb_changelog}")
    install(FILES "${usb_changelog}" "${usb_packaging_dir}/copyright" DESTINATION ${usb_doc_dir})

    # Manual pages, compressed like the changelog.
    foreach(page usb-file-utility.1 usb-file-utility-cli.1)
        set(usb_page "${CMAKE_CURRENT_BINARY_DIR}/${page}.gz")
        add_custom_command(OUTPUT "${usb_page}"
            COMMAND gzip -9nc "${usb_packaging_dir}/${page}" > "${usb_page}"
            DEPENDS "${usb_packaging_dir}/${page}")
        add_custom_target(usb_page_${page} ALL DEPENDS "${usb_page}")
        install(FILES "${usb_page}" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endforeach()
endif()

set(CPACK_PACKAGE_NAME usb-file-utility)
set(CPACK_PACKAGE_VENDOR "USB File Utility developers")
set(CPACK_PACKAGE_CONTACT "USB File Utility developers <dev@usb-file-utility.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware and file transfer for a device on a USB serial port")
set(CPACK_PACKAGE_DESCRIPTION "Manufacturing and service tool for an embedded device attached by USB
as a virtual serial port. It finds the device's port, identifies the
device, installs its firmware, fetches its MAC-address file and moves
files and whole folders to and from it. The package holds the desktop
program, the command-line tool for scripts and production lines, and a
udev rule that gives the logged-in user access to the device's port.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
if(USB_BUILD_PYTHON)
    # The Python module is built for this Python version's ABI; the libraries the programs
    # link are added by dpkg-shlibdeps.
    math(EXPR usb_python_next_minor "${Python_VERSION_MINOR} + 1")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
        "python3 (>= ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}~), python3 (<< ${Python_VERSION_MAJOR}.${usb_python_next_minor})")
endif()

include(CPack)
