# ROM package reader and transfer engine: sources and tests.

target_link_libraries(desktop_device PUBLIC rom_format)
target_sources(desktop_device PRIVATE program_folder.cpp rom_package_search.cpp)

tova_add_test(rom_package_test
  SOURCES tests/rom_package_search_test.cpp
          tests/program_folder_test.cpp
  LIBS desktop_device)

target_sources(desktop_device PRIVATE transfer.cpp)
target_link_libraries(desktop_device PUBLIC rapi_client)

# The transfer engine is tested against an emulated handheld over its real link; those
# tests exist once the emulator and its link server do.
if(TARGET tova_emulator AND TARGET tova_link)
  add_library(handheld_link_fixture STATIC tests/handheld_link_fixture.cpp)
  target_include_directories(handheld_link_fixture PUBLIC tests)
  target_link_libraries(handheld_link_fixture
    PUBLIC desktop_device romimage tova_emulator tova_link GTest::gtest
    PRIVATE tova_options)

  tova_add_test(transfer_test
    SOURCES tests/transfer_test.cpp
    LIBS handheld_link_fixture desktop_device romimage
    LABELS threads
    HOSTS_MODULES)

  tova_add_benchmark(transfer_benchmark
    SOURCES tests/transfer_benchmark.cpp
    LIBS handheld_link_fixture desktop_device)
  if(TARGET transfer_benchmark)
    tova_host_modules(transfer_benchmark)
  endif()
endif()
