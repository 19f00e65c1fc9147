# Cross build for 32-bit Windows (the release): Debian's i686-w64-mingw32
# (package g++-mingw-w64-i686); the preset win32 uses it:
#   cmake --preset win32 && cmake --build --preset win32
set(CMAKE_SYSTEM_PROCESSOR x86)
set(M2Q_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
