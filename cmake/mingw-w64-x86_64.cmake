# Cross build for 64-bit Windows with Debian's MinGW-w64 compiler (posix threads, for std::thread):
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# Programs and tests run on this machine through Wine (CTest uses it as the emulator).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(NUVO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${NUVO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NUVO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NUVO_MINGW_TRIPLE}-windres)

# Libraries and headers only from the MinGW tree (zlib); the header-only Boost and CLI11 of the
# host are offered separately (cmake/Windows.cmake), never the host's include folder as a whole.
set(CMAKE_FIND_ROOT_PATH /usr/${NUVO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(NUVO_WINE NAMES wine wine64 PATHS /usr/lib/wine)
if(NUVO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${NUVO_WINE})
endif()
