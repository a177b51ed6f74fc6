# SPDX-License-Identifier: MIT
# dbfdetect: what the command line finds beyond the header, the record count
# against the file's length and the encoding of the records' texts (uchardet).
# Kept out of the core, which needs nothing but the standard library.
#
# uchardet: Debian's libuchardet-dev on Linux; for Windows, built with
# mingw-w64 from Debian's source package by scripts/stage-windows, which
# names it in DBF_UCHARDET_INCLUDE_DIR and DBF_UCHARDET_LIBRARY. A Windows
# build without it detects no encoding and says so.
find_path(DBF_UCHARDET_INCLUDE_DIR uchardet/uchardet.h)
find_library(DBF_UCHARDET_LIBRARY uchardet)
find_package(nlohmann_json 3 QUIET)
if(NOT nlohmann_json_FOUND)
  # A cross build finds no packages of the build machine; the header-only
  # JSON library is taken from it alone, not the rest of its /usr/include.
  include(${PROJECT_SOURCE_DIR}/cmake/HostHeaders.cmake)
  dbf_host_headers(nlohmann_json nlohmann json.hpp)
endif()
add_library(dbfdetect STATIC ${CMAKE_CURRENT_LIST_DIR}/Detection.cpp)
target_include_directories(dbfdetect PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(dbfdetect PUBLIC dbfcore nlohmann_json::nlohmann_json)
if(DBF_UCHARDET_INCLUDE_DIR AND DBF_UCHARDET_LIBRARY)
  target_include_directories(dbfdetect SYSTEM PRIVATE ${DBF_UCHARDET_INCLUDE_DIR})
  target_link_libraries(dbfdetect PRIVATE ${DBF_UCHARDET_LIBRARY})
  target_compile_definitions(dbfdetect PUBLIC DBF_HAVE_UCHARDET=1)
elseif(WIN32)
  message(WARNING "uchardet not found for Windows: the encoding of the records is not detected in this build")
  target_compile_definitions(dbfdetect PUBLIC DBF_HAVE_UCHARDET=0)
else()
  message(FATAL_ERROR "uchardet not found: install libuchardet-dev")
endif()
