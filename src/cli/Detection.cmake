# SPDX-License-Identifier: MIT
# dbfdetect: what the command line finds beyond the header, the record count
# against the file's length and the encoding of the records' texts (a
# detector of its own, for the Cyrillic encodings). Kept out of the core,
# which needs nothing but the standard library.
find_package(nlohmann_json 3 QUIET)
if(NOT nlohmann_json_FOUND)
  # A cross build finds no packages of the build machine; the header-only
  # JSON library is taken from it alone, not the rest of its /usr/include.
  include(${PROJECT_SOURCE_DIR}/cmake/HostHeaders.cmake)
  dbf_host_headers(nlohmann_json nlohmann json.hpp)
endif()
# The plurals of the nouns its lines count, shared with dbffix's own.
add_library(dbfdetect STATIC ${CMAKE_CURRENT_LIST_DIR}/Detection.cpp ${CMAKE_CURRENT_LIST_DIR}/Russian.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JsonWriter.cpp)
target_include_directories(dbfdetect PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(dbfdetect PUBLIC dbfcore nlohmann_json::nlohmann_json)
