# SPDX-License-Identifier: MIT
# Builds the zip and the NSIS installer and checks what they hold: both
# programs side by side, the licence and the Russian guide as Notepad reads
# it in the zip, nothing of the developers'; a 64-bit installer whose script
# has the licence page, a Start-menu entry for the program, the Explorer verb
# and an uninstaller that takes the verb back.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
execute_process(COMMAND cpack -B "${WORK_DIR}" --config "${BUILD_DIR}/CPackConfig.cmake"
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${output}")
endif()
file(GLOB zips "${WORK_DIR}/*.zip")
file(GLOB installers "${WORK_DIR}/*.exe")
list(LENGTH zips zipCount)
list(LENGTH installers installerCount)
if(NOT zipCount EQUAL 1 OR NOT installerCount EQUAL 1)
  message(FATAL_ERROR "expected one zip and one installer, found: ${zips} ${installers}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${zips} OUTPUT_VARIABLE contents)
# Every file in the one top folder, and nothing else: no bin/, no README.md.
string(REGEX REPLACE "[^\n]*/\n" "" files "${contents}")  # the folders' own lines
string(REGEX REPLACE "(^|\n)[^/\n]+/" "\\1" files "${files}")
string(STRIP "${files}" files)
string(REPLACE "\n" ";" files "${files}")
list(SORT files)
set(expected DbfHeaderFix.exe LICENSE.txt README-ru.txt dbffix.exe)
if(NOT files STREQUAL expected)
  message(FATAL_ERROR "the zip holds ${files}, expected ${expected}:\n${contents}")
endif()
set(unpacked "${WORK_DIR}/unpacked")
file(MAKE_DIRECTORY "${unpacked}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${zips} WORKING_DIRECTORY "${unpacked}" RESULT_VARIABLE result)
file(GLOB guide "${unpacked}/*/README-ru.txt")
if(NOT result EQUAL 0 OR NOT guide)
  message(FATAL_ERROR "the zip cannot be unpacked")
endif()
# Notepad's UTF-8: a byte order mark, and every line ended by CR LF.
file(READ "${guide}" bytes HEX)
if(NOT bytes MATCHES "^efbbbf")
  message(FATAL_ERROR "README-ru.txt has no UTF-8 byte order mark")
endif()
string(REGEX MATCHALL ".." pairs "${bytes}")
string(REPLACE ";" " " spaced "${pairs}")  # one byte apart from the next
string(REPLACE "0d 0a" "" bare "${spaced}")
if(bare MATCHES "(^| )0[ad]( |$)" OR NOT spaced MATCHES "0d 0a$")
  message(FATAL_ERROR "README-ru.txt has a line not ended by CR LF")
endif()
file(READ "${guide}" text)
foreach(part "dbffix restore" "--recursive" "Исправить шапку DBF" "Обработать файл")
  string(FIND "${text}" "${part}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "README-ru.txt does not tell of ${part}")
  endif()
endforeach()
if(text MATCHES "@[A-Z_]+@")
  message(FATAL_ERROR "README-ru.txt keeps an unreplaced ${CMAKE_MATCH_0}")
endif()

# An NSIS installer for amd64: the PE header's machine is 0x8664.
file(READ ${installers} head LIMIT 2 HEX)
file(STRINGS ${installers} nullsoft REGEX "Nullsoft" LIMIT_COUNT 1)
if(NOT head STREQUAL "4d5a" OR NOT nullsoft)
  message(FATAL_ERROR "${installers} is not an NSIS installer")
endif()
file(READ ${installers} peOffset OFFSET 60 LIMIT 4 HEX)
string(REGEX REPLACE "(..)(..)(..)(..)" "0x\\4\\3\\2\\1" peOffset "${peOffset}")
math(EXPR machineOffset "${peOffset} + 4")
file(READ ${installers} machine OFFSET ${machineOffset} LIMIT 2 HEX)
if(NOT machine STREQUAL "6486")
  message(FATAL_ERROR "the installer is not a 64-bit program (machine ${machine})")
endif()
file(GLOB_RECURSE scripts "${WORK_DIR}/_CPack_Packages/*/project.nsi")
file(READ "${scripts}" script)
if(NOT script MATCHES "MUI_PAGE_LICENSE \"([^\"]+)\"")
  message(FATAL_ERROR "the installer shows no licence page")
endif()
file(READ "${CMAKE_MATCH_1}" licence)
if(NOT licence MATCHES "^MIT License")
  message(FATAL_ERROR "the installer's licence page shows ${CMAKE_MATCH_1}, not the MIT licence")
endif()
foreach(line
    "CreateShortCut \"$SMPROGRAMS\\$STARTMENU_FOLDER\\DbfHeaderFix.lnk\" \"$INSTDIR\\.\\DbfHeaderFix.exe\""
    "WriteUninstaller \"$INSTDIR\\Uninstall.exe\""
    "Delete \"$INSTDIR\\DbfHeaderFix.exe\""
    "Delete \"$INSTDIR\\dbffix.exe\""
    "WriteRegStr SHCTX \"Software\\Classes\\SystemFileAssociations\\.dbf\\shell\\DbfHeaderFix\\command\" \"\" \"$\\\"$INSTDIR\\DbfHeaderFix.exe$\\\" $\\\"%1$\\\"\""
    "DeleteRegKey SHCTX \"Software\\Classes\\SystemFileAssociations\\.dbf\\shell\\DbfHeaderFix\"")
  string(FIND "${script}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the installer lacks: ${line}")
  endif()
endforeach()
message(STATUS "packages ok: ${zips} ${installers}")
