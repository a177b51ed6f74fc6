# SPDX-License-Identifier: MIT
# cmake -DINPUT=... -DOUTPUT=... -P NotepadText.cmake: a text kept with LF
# line ends in git, written as Notepad reads it on every Windows: UTF-8 with
# a byte order mark, CRLF line ends.
file(READ "${INPUT}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
string(ASCII 239 187 191 bom)
file(WRITE "${OUTPUT}" "${bom}${text}")
