# ROM image builder (library) and the package tool.

add_library(romimage STATIC romimage/rom_image.cpp romimage/checksum_fit.cpp)
target_include_directories(romimage PUBLIC romimage/include)
target_link_libraries(romimage PUBLIC tova_shared PRIVATE tova_options rom_package_format harlix_checksum)

tova_add_test(romimage_test
  SOURCES romimage/rom_image_test.cpp romimage/checksum_fit_test.cpp
  LIBS romimage rom_package_format harlix_checksum)
