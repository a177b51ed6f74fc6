# SPDX-License-Identifier: MIT
# Corrects the sample tables with the native CorrectSamples and with the
# Windows one, then compares the two folders file by file, byte by byte.
#
#   cmake -DNATIVE=... -DWINDOWS=... [-DEMULATOR=wine] -DWORK=folder -P CompareSamples.cmake
foreach(var NATIVE WINDOWS WORK)
  if(NOT ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
# Relative folders: the Windows program needs no translation of Unix paths.
execute_process(COMMAND ${NATIVE} native WORKING_DIRECTORY ${WORK} RESULT_VARIABLE native_result)
execute_process(COMMAND ${EMULATOR} ${WINDOWS} windows WORKING_DIRECTORY ${WORK} RESULT_VARIABLE windows_result)
if(NOT native_result EQUAL 0 OR NOT windows_result EQUAL 0)
  message(FATAL_ERROR "CorrectSamples failed: native ${native_result}, windows ${windows_result}")
endif()

file(GLOB native_files RELATIVE ${WORK}/native ${WORK}/native/*)
file(GLOB windows_files RELATIVE ${WORK}/windows ${WORK}/windows/*)
list(SORT native_files)
list(SORT windows_files)
if(NOT native_files STREQUAL windows_files)
  message(FATAL_ERROR "different files:\n  native: ${native_files}\n  windows: ${windows_files}")
endif()
list(LENGTH native_files count)
if(count LESS 10)
  message(FATAL_ERROR "only ${count} files were written: ${native_files}")
endif()
# Most samples must have been corrected, not merely refused alike.
file(STRINGS ${WORK}/windows/messages.txt done ENCODING UTF-8 REGEX "^Готово! ")
list(LENGTH done corrected)
if(corrected LESS 20)
  message(FATAL_ERROR "only ${corrected} tables were corrected")
endif()
set(differences "")
foreach(name IN LISTS native_files)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/native/${name} ${WORK}/windows/${name}
    RESULT_VARIABLE different)
  if(different)
    list(APPEND differences ${name})
  endif()
endforeach()
if(differences)
  message(FATAL_ERROR "corrected differently under Windows: ${differences}")
endif()
message(STATUS "${count} files identical")
