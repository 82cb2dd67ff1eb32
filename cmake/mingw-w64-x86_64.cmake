# Cross-build for Windows x86-64 with Debian's MinGW-w64 (the POSIX-thread compilers, which
# std::thread needs). ORBV_WINDOWS_DEPS names the prefix scripts/windows-deps prints; programs
# run under Wine through cmake/wine-run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ORBV_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ORBV_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORBV_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ORBV_MINGW}-windres)

set(ORBV_WINDOWS_DEPS "" CACHE PATH "Prefix of the cross-built FFmpeg, x264 and OpenCV")
set(CMAKE_FIND_ROOT_PATH /usr/${ORBV_MINGW} ${ORBV_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
