# SPDX-License-Identifier: MIT
# What goes with the programs wherever they are installed: the licence, and on
# Linux the copyright file, the changelog, the manual pages and the AppStream
# metadata; then CPack's settings for the packages (cpack -G DEB in the build
# folder gives the .deb).
include(GNUInstallDirs)

set(DBF_PACKAGE_NAME dbfheaderfix)
set(DBF_MAINTAINER "DbfHeaderFix maintainers <dbfheaderfix@users.noreply.github.com>")
set(DBF_METAINFO_ID io.github.dbfheaderfix.dbfheaderfix)

# The version comes from project() alone; the changelog's latest entry must
# name it, and its date is the release date the metadata and manual pages show.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog dbf_changelog_head LIMIT_COUNT 1)
if(NOT dbf_changelog_head MATCHES "^${DBF_PACKAGE_NAME} \\(([^)]+)\\) ")
  message(FATAL_ERROR "packaging/changelog: the first line names no version: ${dbf_changelog_head}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/changelog's latest entry is ${CMAKE_MATCH_1}, the project is "
    "${PROJECT_VERSION}: add an entry for ${PROJECT_VERSION} at its top")
endif()
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog dbf_changelog_trailer REGEX "^ -- " LIMIT_COUNT 1)
if(NOT dbf_changelog_trailer MATCHES ", ([0-9]?[0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "packaging/changelog: no date in the latest entry's trailer: ${dbf_changelog_trailer}")
endif()
set(dbf_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND dbf_months "${CMAKE_MATCH_2}" dbf_month)
math(EXPR dbf_month "${dbf_month} + 1" OUTPUT_FORMAT DECIMAL)
math(EXPR dbf_day "${CMAKE_MATCH_1}")
if(dbf_month LESS 10)
  set(dbf_month "0${dbf_month}")
endif()
if(dbf_day LESS 10)
  set(dbf_day "0${dbf_day}")
endif()
set(DBF_RELEASE_DATE "${CMAKE_MATCH_3}-${dbf_month}-${dbf_day}")

if(UNIX AND NOT APPLE AND NOT CMAKE_CROSSCOMPILING)
  find_program(DBF_GZIP gzip REQUIRED)
  set(dbf_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${DBF_PACKAGE_NAME})
  set(dbf_out ${PROJECT_BINARY_DIR}/packaging)
  set(dbf_gzipped)

  # gzip -9n: the best compression and no name or time stamp in the file, so
  # that the same sources give the same package.
  function(dbf_gzip source output)
    add_custom_command(OUTPUT ${output}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${output}
      COMMAND ${DBF_GZIP} -9nf ${output}
      DEPENDS ${source}
      VERBATIM)
    set(dbf_gzipped ${dbf_gzipped} ${output}.gz PARENT_SCOPE)
  endfunction()

  # The copyright file in Debian's machine-readable form, its holders and
  # licence text taken from LICENSE.
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE DBF_LICENCE_TEXT)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" dbf_match "${DBF_LICENCE_TEXT}")
  set(DBF_COPYRIGHT "${CMAKE_MATCH_1}")
  string(FIND "${DBF_LICENCE_TEXT}" "Permission" dbf_at)
  string(SUBSTRING "${DBF_LICENCE_TEXT}" ${dbf_at} -1 DBF_LICENCE_TEXT)
  string(STRIP "${DBF_LICENCE_TEXT}" DBF_LICENCE_TEXT)
  string(REPLACE "\n\n" "\n.\n" DBF_LICENCE_TEXT "${DBF_LICENCE_TEXT}")
  string(REPLACE "\n" "\n " DBF_LICENCE_TEXT " ${DBF_LICENCE_TEXT}")
  configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in ${dbf_out}/copyright @ONLY)
  install(FILES ${dbf_out}/copyright DESTINATION ${dbf_doc_dir})

  dbf_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${dbf_out}/changelog)
  install(FILES ${dbf_out}/changelog.gz DESTINATION ${dbf_doc_dir})

  # Manual pages in section 1, in English and in Russian, for the programs
  # this build makes.
  foreach(program DbfHeaderFix dbffix)
    if(NOT TARGET ${program})
      continue()
    endif()
    foreach(lang "" ru)
      if(lang)
        set(dir ${lang}/man1)
        set(source ${PROJECT_SOURCE_DIR}/man/${lang}/${program}.1.in)
      else()
        set(dir man1)
        set(source ${PROJECT_SOURCE_DIR}/man/${program}.1.in)
      endif()
      configure_file(${source} ${dbf_out}/man/${dir}/${program}.1.in @ONLY)
      dbf_gzip(${dbf_out}/man/${dir}/${program}.1.in ${dbf_out}/man/${dir}/${program}.1)
      install(FILES ${dbf_out}/man/${dir}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/${dir})
    endforeach()
  endforeach()

  # The software centres' entry for the window.
  if(TARGET DbfHeaderFix)
    set(DBF_METAINFO_BINARIES "    <binary>DbfHeaderFix</binary>")
    if(TARGET dbffix)
      string(APPEND DBF_METAINFO_BINARIES "\n    <binary>dbffix</binary>")
    endif()
    configure_file(${PROJECT_SOURCE_DIR}/packaging/dbfheaderfix.metainfo.xml.in
      ${dbf_out}/${DBF_METAINFO_ID}.metainfo.xml @ONLY)
    install(FILES ${dbf_out}/${DBF_METAINFO_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  endif()

  add_custom_target(dbf_packaging_files ALL DEPENDS ${dbf_gzipped})
elseif(WIN32)
  # The licence beside the programs in the zip, and on the installer's
  # licence page.
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
  set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
  # The users' guide in Russian, as Notepad reads it whatever the locale:
  # UTF-8 with a byte order mark, CRLF line ends.
  configure_file(${PROJECT_SOURCE_DIR}/packaging/README-ru.txt ${PROJECT_BINARY_DIR}/packaging/README-ru.lf.txt @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/README-ru.txt
    COMMAND ${CMAKE_COMMAND} -DINPUT=${PROJECT_BINARY_DIR}/packaging/README-ru.lf.txt
            -DOUTPUT=${PROJECT_BINARY_DIR}/packaging/README-ru.txt -P ${PROJECT_SOURCE_DIR}/cmake/NotepadText.cmake
    DEPENDS ${PROJECT_BINARY_DIR}/packaging/README-ru.lf.txt ${PROJECT_SOURCE_DIR}/cmake/NotepadText.cmake
    VERBATIM)
  add_custom_target(dbf_windows_guide ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/README-ru.txt)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/README-ru.txt DESTINATION .)
endif()

# The packages: cpack in the build folder gives the .deb on Linux, and on
# Windows a zip with the program and an installer made with NSIS with a
# Start-menu entry and an uninstaller, both showing the licence.
set(CPACK_PACKAGE_VENDOR "The DbfHeaderFix authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "correct the header of a dBase III table in place")
set(CPACK_STRIP_FILES ON)
# The values reach CPack as they are written here: the installer's commands
# below hold quotes and backslashes.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_SOURCE_IGNORE_FILES "/build.*/;/\\.git/")
if(WIN32)
  set(CPACK_GENERATOR ZIP NSIS)
  set(CPACK_PACKAGE_NAME DbfHeaderFix)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY DbfHeaderFix)
  set(CPACK_PACKAGE_FILE_NAME DbfHeaderFix-${PROJECT_VERSION}-win64)
  set(CPACK_PACKAGE_EXECUTABLES DbfHeaderFix DbfHeaderFix)
  set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
  set(CPACK_NSIS_MUI_ICON ${DBF_WIN32_ICON_FILE})
  set(CPACK_NSIS_MUI_UNIICON ${DBF_WIN32_ICON_FILE})
  set(CPACK_NSIS_INSTALLED_ICON_NAME DbfHeaderFix.exe)
  set(CPACK_NSIS_DISPLAY_NAME DbfHeaderFix)
  set(CPACK_NSIS_PACKAGE_NAME DbfHeaderFix)
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  # A 64-bit installer for a 64-bit program: it starts where no 32-bit
  # Windows subsystem is, and writes the 64-bit registry and Program Files.
  set(CPACK_NSIS_DEFINES "  Target amd64-unicode")
  set(CPACK_NSIS_MENU_LINKS README-ru.txt "Прочти меня")
  # Explorer: "Исправить шапку DBF" on every .dbf table's menu and the
  # window in its "Open with" list, without taking the .dbf association
  # from the program that holds it; the uninstaller takes back only its own
  # keys, and a parent key only when nothing else is in it (/ifempty: no
  # subkeys and no values). SHCTX is HKLM for an install for all users, HKCU
  # otherwise.
  set(dbf_verb_key "Software\\Classes\\SystemFileAssociations\\.dbf\\shell\\DbfHeaderFix")
  set(dbf_application_key "Software\\Classes\\Applications\\DbfHeaderFix.exe")
  set(dbf_command "$\\\"$INSTDIR\\DbfHeaderFix.exe$\\\" $\\\"%1$\\\"")
  set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "
  WriteRegStr SHCTX \"${dbf_verb_key}\" \"\" \"Исправить шапку DBF\"
  WriteRegStr SHCTX \"${dbf_verb_key}\" \"Icon\" \"$INSTDIR\\DbfHeaderFix.exe,0\"
  WriteRegStr SHCTX \"${dbf_verb_key}\\command\" \"\" \"${dbf_command}\"
  WriteRegStr SHCTX \"${dbf_application_key}\" \"FriendlyAppName\" \"DbfHeaderFix\"
  WriteRegStr SHCTX \"${dbf_application_key}\\SupportedTypes\" \".dbf\" \"\"
  WriteRegStr SHCTX \"${dbf_application_key}\\shell\\open\\command\" \"\" \"${dbf_command}\"
  WriteRegStr SHCTX \"Software\\Classes\\.dbf\\OpenWithList\\DbfHeaderFix.exe\" \"\" \"\"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'")
  set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "
  DeleteRegKey SHCTX \"${dbf_verb_key}\"
  DeleteRegKey /ifempty SHCTX \"Software\\Classes\\SystemFileAssociations\\.dbf\\shell\"
  DeleteRegKey /ifempty SHCTX \"Software\\Classes\\SystemFileAssociations\\.dbf\"
  DeleteRegKey SHCTX \"${dbf_application_key}\"
  DeleteRegKey SHCTX \"Software\\Classes\\.dbf\\OpenWithList\\DbfHeaderFix.exe\"
  DeleteRegKey /ifempty SHCTX \"Software\\Classes\\.dbf\\OpenWithList\"
  DeleteRegKey /ifempty SHCTX \"Software\\Classes\\.dbf\"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME ${DBF_PACKAGE_NAME})
  set(CPACK_PACKAGE_CONTACT "${DBF_MAINTAINER}")
  # Debian shows the long description as it stands, under the summary: lines
  # of at most 80 characters, none indented.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "\
A small desktop tool that corrects, in place, the header and the field
descriptors of a dBase III table (.dbf) that other software wrote badly:
junk in the reserved bytes, a stale index flag, the wrong code page byte,
lower-case field types, spaces in field names, broken field offsets.
The records and the length of the file are never changed.")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The window's font stands in for MS Sans Serif, and Qt's own dialogs and
  # buttons speak Russian from Qt's translations; the library dependencies are
  # read from the programs themselves when dpkg-shlibdeps is at hand.
  find_program(DBF_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(DBF_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation, qt6-translations-l10n")
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6core6 (>= 6.4), libxcb1, libstdc++6 (>= 12), libc6 (>= 2.34), fonts-liberation, qt6-translations-l10n")
  endif()
endif()
include(CPack)
