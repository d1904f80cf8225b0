# One GoogleTest binary per area. Natively each test case becomes a CTest test;
# under Wine a whole binary is one test, since every process start costs a
# Wine process.
include(GoogleTest)

function(zelto_add_test_binary name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} zelto_gtest_main zelto_warnings)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
    # Judged by what the test program says, not only by the status Wine
    # hands back: a program that dies half-way must not pass.
    set_tests_properties(${name} PROPERTIES TIMEOUT 600
      PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [0-9]+ tests?\\."
      FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  endif()
endfunction()
