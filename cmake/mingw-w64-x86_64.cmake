# SPDX-License-Identifier: MIT
# Cross-builds the core, its tests and the benchmark as 64-bit Windows
# programs with mingw-w64, to be run under wine.
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The -posix compilers give std::thread and friends (through winpthreads).
# Everything is linked statically, so the .exe files need no DLLs of the
# compiler's beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(DBF_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${DBF_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DBF_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${DBF_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DBF_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# CTest and gtest_discover_tests run the .exe files through wine.
find_program(DBF_WINE wine)
if(DBF_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DBF_WINE})
endif()
