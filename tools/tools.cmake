# ROM image builder (library) and the package tool.

add_library(romimage STATIC romimage/rom_image.cpp romimage/checksum_fit.cpp)
target_include_directories(romimage PUBLIC romimage/include)
target_link_libraries(romimage PUBLIC tova_shared PRIVATE tova_options rom_format)

tova_add_test(romimage_test
  SOURCES romimage/rom_image_test.cpp romimage/checksum_fit_test.cpp
  LIBS romimage rom_format)

add_library(rompkg_commands STATIC rompkg/cli.cpp rompkg/make.cpp rompkg/package_report.cpp rompkg/help.cpp)
target_include_directories(rompkg_commands PUBLIC rompkg)
target_link_libraries(rompkg_commands PUBLIC romimage PRIVATE tova_options rom_format fmt::fmt)

add_executable(rompkg rompkg/main.cpp)
target_link_libraries(rompkg PRIVATE tova_options rompkg_commands)

tova_add_test(rompkg_test
  SOURCES rompkg/rompkg_test.cpp
  LIBS rompkg_commands romimage rom_format)
