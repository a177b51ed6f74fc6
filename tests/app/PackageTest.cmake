# SPDX-License-Identifier: MIT
# Builds the .deb and checks what it holds and what it asks for.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
execute_process(COMMAND cpack -G DEB -B "${WORK_DIR}" --config "${BUILD_DIR}/CPackConfig.cmake"
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${output}")
endif()
file(GLOB debs "${WORK_DIR}/*.deb")
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one .deb, found: ${debs}")
endif()
execute_process(COMMAND dpkg-deb --contents ${debs} OUTPUT_VARIABLE contents RESULT_VARIABLE result)
set(expected
  "./usr/bin/DbfHeaderFix"
  "./usr/share/applications/dbfheaderfix.desktop"
  "./usr/share/icons/hicolor/32x32/apps/dbfheaderfix.png"
  "./usr/share/doc/dbfheaderfix/copyright"
  "./usr/share/doc/dbfheaderfix/changelog.gz"
  "./usr/share/man/man1/DbfHeaderFix.1.gz"
  "./usr/share/man/ru/man1/DbfHeaderFix.1.gz"
  "./usr/share/metainfo/io.github.dbfheaderfix.dbfheaderfix.metainfo.xml")
if(WITH_DBFFIX)
  list(APPEND expected "./usr/bin/dbffix" "./usr/share/man/man1/dbffix.1.gz" "./usr/share/man/ru/man1/dbffix.1.gz")
endif()
foreach(path IN LISTS expected)
  string(FIND "${contents}" " ${path}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${path} missing from the package:\n${contents}")
  endif()
endforeach()

# Everything owned by root; programs and folders 0755, the rest 0644, whoever
# built the package and whatever their umask.
string(REPLACE "\n" ";" entries "${contents}")
foreach(entry IN LISTS entries)
  if(entry STREQUAL "")
    continue()
  endif()
  if(NOT entry MATCHES "^([-dl][rwx-]+) ([^ ]+) +[0-9]+ [0-9-]+ [0-9:]+ (.*)$")
    message(FATAL_ERROR "unexpected dpkg-deb line: ${entry}")
  endif()
  set(mode "${CMAKE_MATCH_1}")
  set(owner "${CMAKE_MATCH_2}")
  set(path "${CMAKE_MATCH_3}")
  if(path MATCHES "/$" OR path MATCHES "^./usr/bin/")
    set(want_mode "rwxr-xr-x")
  else()
    set(want_mode "-rw-r--r--")
  endif()
  if(NOT owner STREQUAL "root/root" OR NOT mode MATCHES "${want_mode}$")
    message(FATAL_ERROR "${path}: ${mode} ${owner}, expected ${want_mode} root/root")
  endif()
endforeach()

# The compressed files carry no name or time stamp (gzip -n), so that the
# same sources give the same package; the changelog's latest entry is the
# package's version.
file(MAKE_DIRECTORY "${WORK_DIR}/root")
execute_process(COMMAND dpkg-deb -x ${debs} "${WORK_DIR}/root" RESULT_VARIABLE result)
file(GLOB_RECURSE gzipped "${WORK_DIR}/root/*.gz")
foreach(gz IN LISTS gzipped)
  file(READ "${gz}" head OFFSET 0 LIMIT 8 HEX)
  if(NOT head STREQUAL "1f8b080000000000")
    message(FATAL_ERROR "${gz} is not gzip -n output: ${head}")
  endif()
endforeach()
execute_process(COMMAND dpkg-deb --field ${debs} Version OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND gzip -dc "${WORK_DIR}/root/usr/share/doc/dbfheaderfix/changelog.gz" OUTPUT_VARIABLE changelog)
if(NOT changelog MATCHES "^dbfheaderfix \\(${version}\\) ")
  message(FATAL_ERROR "the changelog does not begin with version ${version}:\n${changelog}")
endif()

# The menu entry offers the program for dBase tables and passes it the one
# file chosen: under the type shared-mime-info gives a .dbf file and under
# its aliases, which other desktops' databases use.
file(STRINGS "${WORK_DIR}/root/usr/share/applications/dbfheaderfix.desktop" entry_lines)
foreach(line "Exec=DbfHeaderFix %f" "Terminal=false"
        "MimeType=application/x-dbf;application/dbf;application/x-dbase;application/dbase;")
  list(FIND entry_lines "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the menu entry lacks \"${line}\":\n${entry_lines}")
  endif()
endforeach()
set(mime_database /usr/share/mime/packages/freedesktop.org.xml)
if(EXISTS ${mime_database})
  file(STRINGS ${mime_database} mime_lines REGEX "<mime-type type=|<glob pattern=\"\\*\\.dbf\"")
  set(dbf_type "")
  foreach(line IN LISTS mime_lines)
    if(line MATCHES "<mime-type type=\"([^\"]+)\"")
      set(type "${CMAKE_MATCH_1}")
    elseif(line MATCHES "\\*\\.dbf")
      set(dbf_type "${type}")
    endif()
  endforeach()
  list(FILTER entry_lines INCLUDE REGEX "^MimeType=")
  if(dbf_type STREQUAL "" OR NOT entry_lines MATCHES "[=;]${dbf_type};")
    message(FATAL_ERROR "the menu entry does not offer the type of a .dbf file (${dbf_type}): ${entry_lines}")
  endif()
endif()

# Software centres learn the same from the metadata.
file(READ "${WORK_DIR}/root/usr/share/metainfo/io.github.dbfheaderfix.dbfheaderfix.metainfo.xml" metainfo)
string(FIND "${metainfo}" "<mediatype>application/x-dbf</mediatype>" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the metadata does not name application/x-dbf:\n${metainfo}")
endif()

execute_process(COMMAND dpkg-deb --field ${debs} Depends OUTPUT_VARIABLE depends)
foreach(dep libqt6widgets6 libqt6gui6 fonts-liberation qt6-translations-l10n)
  string(FIND "${depends}" "${dep}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the package does not depend on ${dep}: ${depends}")
  endif()
endforeach()
message(STATUS "package ok: ${debs}\nDepends: ${depends}")
