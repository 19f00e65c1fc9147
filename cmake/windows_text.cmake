# cmake -DIN=FILE -DOUT=FILE -P cmake/windows_text.cmake
# Writes IN as Notepad reads it best: UTF-8 after a byte order mark, every
# line ended by CR LF (a last line without LF gets its CR too).
file(READ "${IN}" text)
string(REPLACE "\n" "\r\n" text "${text}")
if(NOT text STREQUAL "" AND NOT text MATCHES "\n$")
  string(APPEND text "\r")
endif()
string(ASCII 239 187 191 bom)
file(WRITE "${OUT}" "${bom}${text}")
