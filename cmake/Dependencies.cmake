# Third-party libraries: Debian's packages natively; built from source for the
# Windows cross-build, where no target binaries exist.

if(NOT CMAKE_CROSSCOMPILING)
  find_package(SQLite3 REQUIRED)
  add_library(zelto_sqlite INTERFACE)
  target_link_libraries(zelto_sqlite INTERFACE SQLite::SQLite3)
else()
  include(${CMAKE_CURRENT_LIST_DIR}/SqliteAmalgamation.cmake)
endif()

# FFmpeg encodes the simulated camcorder's capture files. The Windows build
# never has it, and writes the files without video.
set(ZELTO_SIM_HAVE_FFMPEG OFF)
if(NOT CMAKE_CROSSCOMPILING)
  find_package(PkgConfig)
  if(PkgConfig_FOUND)
    pkg_check_modules(FFMPEG IMPORTED_TARGET libavcodec libavformat libavutil libswscale)
  endif()
  if(FFMPEG_FOUND)
    set(ZELTO_SIM_HAVE_FFMPEG ON)
    add_library(zelto_ffmpeg INTERFACE)
    target_link_libraries(zelto_ffmpeg INTERFACE PkgConfig::FFMPEG)
  else()
    message(WARNING "FFmpeg's libavcodec, libavformat, libavutil and libswscale not found: "
                    "the simulated camcorder's capture files will carry no video")
  endif()
endif()

# Header-only libraries: natively from their packages; for the Windows build
# their headers are copied into the build tree, so that the cross-compiler
# never searches the host's /usr/include.
function(zelto_header_library target package imported header_dir probe)
  add_library(${target} INTERFACE)
  if(CMAKE_CROSSCOMPILING)
    set(_root ${CMAKE_BINARY_DIR}/_deps/${header_dir}/include)
    if(NOT EXISTS ${_root}/${probe})
      file(COPY /usr/include/${header_dir} DESTINATION ${_root})
    endif()
    target_include_directories(${target} SYSTEM INTERFACE ${_root})
  elseif(package STREQUAL "")
    # No CMake package: the headers' folder is all there is.
    find_path(_${target}_root ${probe} REQUIRED)
    target_include_directories(${target} SYSTEM INTERFACE ${_${target}_root})
  else()
    find_package(${package} REQUIRED)
    target_link_libraries(${target} INTERFACE ${imported})
  endif()
endfunction()

zelto_header_library(zelto_json nlohmann_json nlohmann_json::nlohmann_json nlohmann nlohmann/json.hpp)
zelto_header_library(zelto_cli11 CLI11 CLI11::CLI11 CLI CLI/CLI.hpp)
# PNG writing and a small bitmap font for the zelto program's pictures.
zelto_header_library(zelto_stb "" "" stb stb/stb_image_write.h)

if(ZELTO_BUILD_TESTS)
  if(NOT CMAKE_CROSSCOMPILING)
    find_package(GTest REQUIRED)
    add_library(zelto_gtest INTERFACE)
    target_link_libraries(zelto_gtest INTERFACE GTest::gtest GTest::gmock Threads::Threads)
    # zelto_test_main (tests/) holds main.
    add_library(zelto_gtest_main INTERFACE)
    target_link_libraries(zelto_gtest_main INTERFACE zelto_gtest zelto_test_main)
  else()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
    add_library(zelto_gtest INTERFACE)
    target_link_libraries(zelto_gtest INTERFACE gtest gmock)
    add_library(zelto_gtest_main INTERFACE)
    target_link_libraries(zelto_gtest_main INTERFACE zelto_gtest zelto_test_main)
  endif()
endif()
