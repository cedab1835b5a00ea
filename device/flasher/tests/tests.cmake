# Tests of the flasher, all inside the emulated handheld: the console and the driver on its
# hardware, the update sequence in-process as device code, the whole flasher as the shell
# runs it from the start-up folder.
if(NOT TARGET tova_emulator OR NOT EXISTS ${CMAKE_SOURCE_DIR}/tools/romimage)
  return()
endif()

add_library(velkor_test_support STATIC tests/handheld.cpp tests/screen_text.cpp)
# The datasheet's command sequences (emulator/hw/tests) are what the driver's are held against.
target_include_directories(velkor_test_support PUBLIC tests ${CMAKE_SOURCE_DIR}/emulator/hw/tests)
target_link_libraries(velkor_test_support
  PUBLIC velkor_core tova_emulator tova_clock romimage handheld_watchdog
  PRIVATE tova_options)
target_compile_definitions(velkor_test_support PRIVATE VELKOR_MODULE_FILE="$<TARGET_FILE:velkor>")

tova_add_test(velkor_console_test
  SOURCES tests/console_test.cpp tests/font_test.cpp
  LIBS velkor_test_support
  HOSTS_MODULES)
tova_add_test(velkor_driver_test
  SOURCES tests/flash_driver_test.cpp tests/flash_command_sequence_test.cpp
          tests/flash_placement_test.cpp
  LIBS velkor_test_support
  HOSTS_MODULES)

tova_add_test(velkor_sequence_test
  SOURCES tests/update_sequence_test.cpp tests/flasher_main_test.cpp
  LIBS velkor_test_support
  LABELS threads
  HOSTS_MODULES)

tova_add_test(velkor_module_test
  SOURCES tests/module_test.cpp
  LIBS velkor_test_support
  HOSTS_MODULES)
add_dependencies(velkor_module_test velkor)

tova_add_test(velkor_handheld_test
  SOURCES tests/flasher_on_handheld_test.cpp
  LIBS velkor_test_support
  LABELS threads
  HOSTS_MODULES)
add_dependencies(velkor_handheld_test velkor)

tova_add_benchmark(velkor_flash_benchmark
  SOURCES tests/flash_program_benchmark.cpp
  LIBS velkor_test_support)
if(TARGET velkor_flash_benchmark)
  tova_host_modules(velkor_flash_benchmark)
endif()
