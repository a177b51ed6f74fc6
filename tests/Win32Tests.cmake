# SPDX-License-Identifier: MIT
# Windows only: the other program that holds tables for the tests, the tests
# on the Win32 calls themselves, and the comparison with tables corrected by
# the native build.

add_executable(HoldFile HoldFile.cpp)
target_link_options(HoldFile PRIVATE -municode)
target_sources(core_tests PRIVATE ExclusiveFileWin32Test.cpp)
add_dependencies(core_tests HoldFile)

# DBF_NATIVE_CORRECT_SAMPLES: the CorrectSamples program of a native build.
# With it, the sample tables corrected here (under wine) must equal those it
# corrects, byte for byte.
set(DBF_NATIVE_CORRECT_SAMPLES "" CACHE FILEPATH "CorrectSamples of a native build, to compare with")
if(DBF_NATIVE_CORRECT_SAMPLES)
  add_test(NAME CorrectedTablesMatchNativeBuild
    COMMAND ${CMAKE_COMMAND}
      -DNATIVE=${DBF_NATIVE_CORRECT_SAMPLES}
      -DWINDOWS=$<TARGET_FILE:CorrectSamples>
      "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
      -DWORK=${CMAKE_CURRENT_BINARY_DIR}/samples
      -P ${CMAKE_CURRENT_SOURCE_DIR}/CompareSamples.cmake)
  set_tests_properties(CorrectedTablesMatchNativeBuild PROPERTIES TIMEOUT 120)
endif()
