# What the Windows build (cmake/mingw-w64-x86_64.cmake) needs besides the toolchain.
# GoogleTest has no mingw package: it is built from the sources Debian's googletest
# package ships.
set(TOVA_WITH_QT OFF CACHE BOOL "" FORCE)
if(TOVA_BUILD_TESTS)
  enable_testing()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(_lib gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${_lib})
      add_library(GTest::${_lib} ALIAS ${_lib})
    endif()
  endforeach()
  set(benchmark_FOUND FALSE)
endif()

# Where the Linux build's tova-emu, HARLIX.DLL, Velkor.exe, rompkg and end-to-end test
# program are: the Windows tests run setup.exe under Wine against that handheld.
set(TOVA_LINUX_BIN_DIR "${CMAKE_SOURCE_DIR}/build/default/bin" CACHE PATH
    "The bin folder of a Linux build (default preset) whose handheld the Windows tests use")
