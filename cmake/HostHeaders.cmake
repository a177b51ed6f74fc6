# SPDX-License-Identifier: MIT
# dbf_host_headers(TARGET FOLDER PROBE): an interface target for a header-only
# library of the build machine, for a cross build that finds none of its
# packages. FOLDER (e.g. nlohmann) is taken from the build machine's
# /usr/include alone, linked into a folder of its own, so that the rest of
# that /usr/include stays out of the cross build. PROBE is a header in FOLDER.
function(dbf_host_headers target folder probe)
  find_path(DBF_HOST_${folder}_DIR ${folder}/${probe} PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
            REQUIRED)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/host-include)
  file(CREATE_LINK ${DBF_HOST_${folder}_DIR}/${folder} ${CMAKE_BINARY_DIR}/host-include/${folder} SYMBOLIC)
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/host-include)
  add_library(${target}::${target} ALIAS ${target})
endfunction()
