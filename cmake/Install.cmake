# What `cmake --install` puts where, and the packages CPack makes of it: a .deb natively, a .zip
# in the Windows cross build, and a .zip of the web page in the WebAssembly build. The program's own install rule lives next to its target in cli/.
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

if(EMSCRIPTEN)
  # The web page's release: the finished page folder and a readme as skm2trn-VERSION-web.zip.
  set(readme ${PROJECT_BINARY_DIR}/README-web.txt)
  configure_file(${PROJECT_SOURCE_DIR}/docs/README-web.txt ${readme} @ONLY)
  install(DIRECTORY ${SKM_PAGE_DIR}/ DESTINATION . COMPONENT web)
  install(FILES ${readme} DESTINATION . RENAME README.txt COMPONENT web)
  set(CPACK_STRIP_FILES OFF)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME web)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL web)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
elseif(WIN32)
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

  # cpack installs after building its "preinstall" target, normally everything; the zip needs
  # only the two programs, so a test that fails to cross-build does not hold the zip back.
  set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL windows)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  install(FILES ${SKM_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/skm2trn.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME skm2trn)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # CPack puts the summary first and indents these lines itself.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "skm2trn reads animated gestures stored as .skm files and writes each as a\n"
      ".trn package: an MD5-based identifier, a 16x16 BMP button, a multi-frame\n"
      "GIF animation, a WAVE sound and the gesture's name. It can also show what\n"
      "either kind of file holds and unpack a package.")
  string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
  # Dependencies are worked out when cpack runs, from the built program (cmake/DebDepends.cmake).
  set(deb_binaries)
  foreach(program skm2trn)
    if(TARGET ${program})
      list(APPEND deb_binaries $<TARGET_FILE:${program}>)
    endif()
  endforeach()
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackDebDepends.cmake)
  file(GENERATE OUTPUT ${CPACK_PROJECT_CONFIG_FILE}
       CONTENT "set(SKM_DEB_BINARIES \"${deb_binaries}\")\ninclude(\"${PROJECT_SOURCE_DIR}/cmake/DebDepends.cmake\")\n")
endif()

include(CPack)
