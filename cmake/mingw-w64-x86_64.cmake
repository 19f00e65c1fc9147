# Cross build for 64-bit Windows from the same sources: Debian's
# x86_64-w64-mingw32 (package g++-mingw-w64-x86-64); the preset win64.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(M2Q_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
