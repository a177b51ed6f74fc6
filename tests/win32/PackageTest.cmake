# Builds the zip and the NSIS installer and checks what they hold: the
# program in the zip, and in the installer's script a Start-menu entry for it
# and an uninstaller.
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
if(NOT contents MATCHES "/DbfHeaderFix\\.exe\n")
  message(FATAL_ERROR "DbfHeaderFix.exe missing from the zip:\n${contents}")
endif()
file(READ ${installers} head LIMIT 2 HEX)
file(STRINGS ${installers} nullsoft REGEX "Nullsoft" LIMIT_COUNT 1)
if(NOT head STREQUAL "4d5a" OR NOT nullsoft)
  message(FATAL_ERROR "${installers} is not an NSIS installer")
endif()
file(GLOB_RECURSE scripts "${WORK_DIR}/_CPack_Packages/*/project.nsi")
file(READ "${scripts}" script)
foreach(line
    "CreateShortCut \"$SMPROGRAMS\\$STARTMENU_FOLDER\\DbfHeaderFix.lnk\" \"$INSTDIR\\.\\DbfHeaderFix.exe\""
    "WriteUninstaller \"$INSTDIR\\Uninstall.exe\""
    "Delete \"$INSTDIR\\DbfHeaderFix.exe\"")
  string(FIND "${script}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the installer lacks: ${line}")
  endif()
endforeach()
message(STATUS "packages ok: ${zips} ${installers}")
