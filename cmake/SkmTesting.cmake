# skm_add_gtest(NAME source...) builds one GoogleTest program linked with the core library.
# Natively every test case becomes a CTest test; in the Windows cross build the whole program is
# one test, run under Wine (starting Wine per case would dominate the run time).
function(skm_add_gtest name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE skm2trn_core skm_warnings GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE SKM_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                             SKM_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "WINEDEBUG=-all")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "SKM_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  endif()
endfunction()
