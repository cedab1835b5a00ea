# Tests of the flasher. The console and driver tests drive a hardware board directly; the
# sequence tests run the flasher inside the emulated handheld.
if(NOT TARGET tova_hw)
  return()
endif()

add_library(velkor_board_test_support STATIC
  tests/board_accessors.cpp
  tests/screen_text.cpp)
target_include_directories(velkor_board_test_support PUBLIC tests)
target_link_libraries(velkor_board_test_support PUBLIC tova_hw velkor_core PRIVATE tova_options)

tova_add_test(velkor_console_test
  SOURCES tests/console_test.cpp tests/font_test.cpp
  LIBS velkor_board_test_support)
tova_add_test(velkor_driver_test
  SOURCES tests/flash_driver_test.cpp tests/flash_placement_test.cpp
  LIBS velkor_board_test_support)
