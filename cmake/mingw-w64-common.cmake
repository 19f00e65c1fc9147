# Shared part of the MinGW-w64 toolchain files: Windows as the target, the
# Debian cross compilers with the POSIX thread model (full std::thread for
# the tests), and fully static programs that need no MinGW DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${M2Q_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${M2Q_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${M2Q_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${M2Q_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
