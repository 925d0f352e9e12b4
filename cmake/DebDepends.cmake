# Read by cpack (CPACK_PROJECT_CONFIG_FILE) before it makes the .deb: the package's dependencies,
# with the minimum versions that dpkg-shlibdeps derives from the symbols the program uses.
# dpkg-shlibdeps also names libgcc-s1 for the unwinder, but libstdc++6 depends on that itself, so
# the package names only the C library and the C++ runtime. Anything else means the program has
# picked up a library it must not need, and packaging stops.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
if(NOT SKM_DEB_BINARIES)
  return()
endif()
find_program(SKM_SHLIBDEPS dpkg-shlibdeps)
if(NOT SKM_SHLIBDEPS)
  message(FATAL_ERROR "dpkg-shlibdeps (package dpkg-dev) is needed to compute the dependencies")
endif()
set(work ${CPACK_PACKAGE_DIRECTORY}/shlibdeps)
file(MAKE_DIRECTORY ${work}/debian)
file(TOUCH ${work}/debian/control)
execute_process(
  COMMAND ${SKM_SHLIBDEPS} -O -xlibgcc-s1 ${SKM_DEB_BINARIES}
  WORKING_DIRECTORY ${work}
  OUTPUT_VARIABLE shlibs
  ERROR_VARIABLE shlibs_errors
  RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT shlibs MATCHES "shlibs:Depends=([^\n]*)")
  message(FATAL_ERROR "dpkg-shlibdeps failed: ${shlibs_errors}")
endif()
set(depends "${CMAKE_MATCH_1}")
string(REGEX REPLACE " *\\([^)]*\\)" "" names "${depends}")
string(REPLACE ", " ";" names "${names}")
list(SORT names)
if(NOT names STREQUAL "libc6;libstdc++6")
  message(FATAL_ERROR "the program needs more than libc6 and libstdc++6: ${depends}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${depends}")
