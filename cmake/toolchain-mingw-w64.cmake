# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread
# model, for std::thread). Used by the `windows` preset; the programs it
# builds run here under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUIRE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUIRE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUIRE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUIRE_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUIRE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs and build-time tools run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
