# Cross-compiling the Windows build with MinGW-w64 from a Linux host:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KVX_MINGW_PREFIX x86_64-w64-mingw32)
# The POSIX thread model where it is installed (Debian ships both): GoogleTest
# needs std::mutex, which the win32 model of g++ 12 lacks, and the Windows
# tests must run the same compiler's kvx.exe. -static links its thread library
# in, so the program still needs no DLL.
if(EXISTS /usr/bin/${KVX_MINGW_PREFIX}-g++-posix)
  set(KVX_MINGW_SUFFIX -posix)
else()
  set(KVX_MINGW_SUFFIX "")
endif()
set(CMAKE_C_COMPILER ${KVX_MINGW_PREFIX}-gcc${KVX_MINGW_SUFFIX})
set(CMAKE_CXX_COMPILER ${KVX_MINGW_PREFIX}-g++${KVX_MINGW_SUFFIX})
set(CMAKE_RC_COMPILER ${KVX_MINGW_PREFIX}-windres)

# Headers and libraries come from the MinGW sysroot only; build tools from the
# host.
set(CMAKE_FIND_ROOT_PATH /usr/${KVX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
