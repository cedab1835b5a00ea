# Cross-compiling the desktop program for 64-bit Windows with Debian's mingw-w64 (posix
# threads). Everything is linked statically, so setup.exe needs no DLL of ours; the test
# programs run under Wine (cmake/wine-run).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_tova_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_tova_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_tova_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_tova_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_tova_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
# Windows 7 and later: the winsock calls the link uses (WSAPoll) need Vista's headers.
set(CMAKE_C_FLAGS_INIT "-D_WIN32_WINNT=0x0601")
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0601")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
