# What `cmake --install` puts where, and the packages CPack makes of it: a .deb natively, a .zip
# in the Windows cross build. The program's own install rule lives next to its target in cli/.
include(GNUInstallDirs)

# The manual page carries the version, so the build writes it from docs/skm2trn.1.
set(SKM_MAN_PAGE ${PROJECT_BINARY_DIR}/docs/skm2trn.1)
configure_file(${PROJECT_SOURCE_DIR}/docs/skm2trn.1 ${SKM_MAN_PAGE} @ONLY)

set(CPACK_PACKAGE_NAME skm2trn)
set(CPACK_PACKAGE_VENDOR "skm2trn developers")
set(CPACK_PACKAGE_CONTACT "skm2trn developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converts SKM gesture files into TRN gesture packages")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # The .zip is flat: the two programs and the readme side by side in one folder. Its files go in
  # a component of their own so that the CLI's bin/ rule does not put a second copy in the zip.
  set(readme ${PROJECT_BINARY_DIR}/README.txt)
  configure_file(${PROJECT_SOURCE_DIR}/docs/README-windows.txt ${readme} @ONLY NEWLINE_STYLE CRLF)
  foreach(program skm2trn-gui skm2trn)
    if(TARGET ${program})
      install(TARGETS ${program} RUNTIME DESTINATION . COMPONENT windows)
    endif()
  endforeach()
  install(FILES ${readme} DESTINATION . COMPONENT windows)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL windows)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
else()
  install(FILES ${SKM_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/skm2trn.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME skm2trn)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}\n"
      " skm2trn reads animated gestures stored as .skm files and writes each as a\n"
      " .trn package: an MD5-based identifier, a 16x16 BMP button, a multi-frame\n"
      " GIF animation, a WAVE sound and the gesture's name. It can also show what\n"
      " either kind of file holds and unpack a package.")
  string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
  # The program needs the C library and the C++ runtime only; dpkg-shlibdeps computes the
  # minimum versions from the symbols it uses.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
