# One GoogleTest binary per area. Natively each test case becomes a CTest test;
# under Wine a whole binary is one test, since every process start costs a
# Wine process; a long one is cut into SHARDS tests (GoogleTest's own
# sharding), so that two can run side by side.
include(GoogleTest)

function(zelto_add_test_binary name)
  cmake_parse_arguments(ARG "" "SHARDS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} zelto_gtest_main zelto_warnings)
  zelto_quick_to_compile(${name})
  # A few files to a unit: the test framework's headers are read once for
  # them, not once each. (GCC takes a unit's fixtures in anonymous
  # namespaces for ones declared in headers.)
  set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 6)
  target_compile_options(${name} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  if(CMAKE_CROSSCOMPILING)
    if(NOT ARG_SHARDS)
      set(ARG_SHARDS 1)
    endif()
    math(EXPR last "${ARG_SHARDS} - 1")
    foreach(shard RANGE ${last})
      if(ARG_SHARDS EQUAL 1)
        set(test ${name})
      else()
        math(EXPR number "${shard} + 1")
        set(test ${name}.${number}of${ARG_SHARDS})
      endif()
      add_test(NAME ${test} COMMAND ${name})
      # Judged by what the test program says, not only by the status Wine
      # hands back: a program that dies half-way must not pass.
      set_tests_properties(${test} PROPERTIES TIMEOUT 600
        ENVIRONMENT "GTEST_TOTAL_SHARDS=${ARG_SHARDS};GTEST_SHARD_INDEX=${shard}"
        PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [0-9]+ tests?\\."
        FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
    endforeach()
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  endif()
endfunction()
