# What `cmake --install` puts where, and the packages CPack makes of it: a .deb natively, a .zip
# in the Windows cross build, and a .zip of the web page in the WebAssembly build. The program's own install rule lives next to its target in cli/.
include(GNUInstallDirs)

# The manual page and the Debian changelog name the version themselves, so that the page people
# read in the repository is the one installed; a release that forgets them stops here.
set(SKM_MAN_PAGE ${PROJECT_SOURCE_DIR}/docs/skm2trn.1)
set(SKM_DEB_CHANGELOG ${PROJECT_SOURCE_DIR}/docs/debian/changelog)
file(STRINGS ${SKM_MAN_PAGE} title REGEX "^\\.TH ")
if(NOT title MATCHES "\"skm2trn ${PROJECT_VERSION}\"")
  message(FATAL_ERROR "docs/skm2trn.1 does not name version ${PROJECT_VERSION}: ${title}")
endif()
file(STRINGS ${SKM_DEB_CHANGELOG} latest LIMIT_COUNT 1)
if(NOT latest MATCHES "^skm2trn \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "docs/debian/changelog does not start with version ${PROJECT_VERSION}")
endif()

# The licence ships with every package: LICENSE.txt in the zips, the copyright file in the .deb.
set(SKM_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
file(STRINGS ${SKM_LICENSE} license_lines)
set(SKM_LICENSE_TERMS)
set(in_terms FALSE)
foreach(line IN LISTS license_lines)
  if(line MATCHES "^Permission is hereby granted")
    set(in_terms TRUE)
  endif()
  if(in_terms)
    # A licence paragraph in a Debian copyright file: every line indented, blank lines as " .".
    if(line STREQUAL "")
      set(line ".")
    endif()
    string(APPEND SKM_LICENSE_TERMS " ${line}\n")
  endif()
endforeach()
string(REGEX REPLACE "\n$" "" SKM_LICENSE_TERMS "${SKM_LICENSE_TERMS}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${SKM_LICENSE})

set(CPACK_PACKAGE_NAME skm2trn)
set(CPACK_PACKAGE_VENDOR "skm2trn developers")
set(CPACK_PACKAGE_CONTACT "skm2trn developers <skm2trn@users.noreply.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converts SKM gesture files into TRN gesture packages")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(EMSCRIPTEN)
  # The web page's release: the finished page folder and a readme as skm2trn-VERSION-web.zip.
  set(readme ${PROJECT_BINARY_DIR}/README-web.txt)
  configure_file(${PROJECT_SOURCE_DIR}/docs/README-web.txt ${readme} @ONLY)
  install(DIRECTORY ${SKM_PAGE_DIR}/ DESTINATION . COMPONENT web)
  install(FILES ${readme} DESTINATION . RENAME README.txt COMPONENT web)
  install(FILES ${SKM_LICENSE} DESTINATION . RENAME LICENSE.txt COMPONENT web)
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
  set(license ${PROJECT_BINARY_DIR}/LICENSE.txt)
  configure_file(${SKM_LICENSE} ${license} @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${readme} ${license} DESTINATION . COMPONENT windows)

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
  # Debian policy: the manual page and the changelog compressed with gzip -9n (no name, no time
  # stamp, so the package is reproducible), the copyright file beside the changelog. They are
  # compressed when installing, so that `cmake --install` works after building the program alone.
  set(deb_dir ${PROJECT_BINARY_DIR}/deb)
  foreach(pair "${SKM_MAN_PAGE}|skm2trn.1.gz" "${SKM_DEB_CHANGELOG}|changelog.gz")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 input)
    list(GET pair 1 output)
    install(CODE "execute_process(COMMAND \"${CMAKE_COMMAND}\" -DINPUT=${input}
                    -DOUTPUT=${deb_dir}/${output} -P ${PROJECT_SOURCE_DIR}/cmake/Gzip.cmake
                    COMMAND_ERROR_IS_FATAL ANY)")
  endforeach()
  # The copyright file in Debian's machine-readable format, its licence text taken from LICENSE.
  configure_file(${PROJECT_SOURCE_DIR}/docs/debian/copyright ${deb_dir}/copyright @ONLY)
  install(FILES ${deb_dir}/skm2trn.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${deb_dir}/copyright ${deb_dir}/changelog.gz ${PROJECT_SOURCE_DIR}/docs/formats.md
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/tools/skm2trn.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME skm2trn)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The completion works only where bash's completion framework loads it.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bash-completion)
  # CPack puts the summary first and indents these lines itself. No line may start with a full
  # stop: in a control file that is a formatting command.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "skm2trn reads animated gestures stored as .skm files and writes each as a\n"
      "gesture package (.trn) that holds an MD5-based identifier, a 16x16 BMP\n"
      "button, a multi-frame GIF animation, a WAVE sound and the gesture's name.\n"
      "It can also show what either kind of file holds and unpack a package.")
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
