# SQLite for the Windows build, from the amalgamation that the npm registry's
# better-sqlite3 package carries. Fetched into the build tree, never committed.
set(ZELTO_SQLITE_DIR ${CMAKE_BINARY_DIR}/_deps/sqlite3)
if(NOT EXISTS ${ZELTO_SQLITE_DIR}/sqlite3.c)
  find_program(NPM npm REQUIRED)
  set(_work ${CMAKE_BINARY_DIR}/_deps/sqlite3-fetch)
  file(MAKE_DIRECTORY ${_work})
  execute_process(COMMAND ${NPM} pack better-sqlite3@12 --silent
    WORKING_DIRECTORY ${_work} OUTPUT_VARIABLE _tarball RESULT_VARIABLE _rc
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "npm pack better-sqlite3@12 failed (${_rc})")
  endif()
  string(REGEX REPLACE ".*\n" "" _tarball "${_tarball}")
  file(ARCHIVE_EXTRACT INPUT ${_work}/${_tarball} DESTINATION ${_work}
    PATTERNS package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h)
  file(MAKE_DIRECTORY ${ZELTO_SQLITE_DIR})
  file(COPY ${_work}/package/deps/sqlite3/sqlite3.c ${_work}/package/deps/sqlite3/sqlite3.h
    DESTINATION ${ZELTO_SQLITE_DIR})
endif()
add_library(zelto_sqlite STATIC ${ZELTO_SQLITE_DIR}/sqlite3.c)
target_include_directories(zelto_sqlite SYSTEM PUBLIC ${ZELTO_SQLITE_DIR})
target_compile_definitions(zelto_sqlite PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION)
