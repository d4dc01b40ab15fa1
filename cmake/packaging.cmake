# What `cpack` puts into the packages, named with the project's version:
# Windows: a zip with KT5CUfirm.exe, the console program kt5cufirm-cli.exe, a
# README.txt for Windows users (CR LF line ends) and the licence. Linux: a
# .tar.gz and a .deb with the console program, kt58sim and kt58mkimage, and the
# console program's man page once console/kt5cufirm.1 exists.
set(CPACK_PACKAGE_NAME KT5CUfirm)
set(CPACK_PACKAGE_VENDOR "the KT5CUfirm developers")
set(CPACK_PACKAGE_CONTACT "the KT5CUfirm developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for the KT-58 serial-communication interface")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

if(WIN32)
  install(TARGETS KT5CUfirm kt5cufirm RUNTIME DESTINATION .)
  configure_file(${CMAKE_SOURCE_DIR}/res/README-windows.txt.in ${CMAKE_BINARY_DIR}/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  include(GNUInstallDirs)
  install(TARGETS kt5cufirm kt58sim kt58mkimage RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/kt5cufirm)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${doc_dir})
  install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${doc_dir} RENAME copyright)
  # The man page, compressed as Debian keeps them, when the source has one.
  set(man_page ${CMAKE_SOURCE_DIR}/console/kt5cufirm.1)
  if(EXISTS ${man_page})
    add_custom_command(OUTPUT kt5cufirm.1.gz
      COMMAND gzip -9nc ${man_page} > kt5cufirm.1.gz
      DEPENDS ${man_page})
    add_custom_target(kt5cufirm_man ALL DEPENDS kt5cufirm.1.gz)
    install(FILES ${CMAKE_BINARY_DIR}/kt5cufirm.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
  set(CPACK_GENERATOR "TGZ;DEB")
  set(CPACK_SYSTEM_NAME Linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_DEBIAN_PACKAGE_NAME kt5cufirm)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "kt5cufirm updates the firmware of a KT-58CU over a serial port, or of a\n"
    "KT-58NET over TCP behind its XPort. kt58sim emulates the device and the\n"
    "XPort; kt58mkimage makes sample firmware images.")
endif()
include(CPack)
