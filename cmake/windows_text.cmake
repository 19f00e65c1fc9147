# cmake -DIN=FILE -DOUT=FILE [-DBOM=OFF] -P cmake/windows_text.cmake
# Writes IN as Notepad reads it best: UTF-8 after a byte order mark (none
# with BOM=OFF, for an ASCII text), every line ended by CR LF (a last line
# without LF gets its CR too).
file(READ "${IN}" text)
string(REPLACE "\n" "\r\n" text "${text}")
if(NOT text STREQUAL "" AND NOT text MATCHES "\n$")
  string(APPEND text "\r")
endif()
if(DEFINED BOM AND NOT BOM)
  set(bom "")
else()
  string(ASCII 239 187 191 bom)
endif()
file(WRITE "${OUT}" "${bom}${text}")
