# ROM package reader and transfer engine: sources and tests.

# The package key and header scrambling stand alone so the package tool shares them
# without pulling in the link.
add_library(rom_package_format STATIC rom_package_key.cpp)
target_include_directories(rom_package_format PUBLIC include)
target_link_libraries(rom_package_format PUBLIC tova_shared PRIVATE tova_options)

target_link_libraries(desktop_device PUBLIC rom_package_format)
target_sources(rom_package_format PRIVATE rom_package_header.cpp)
target_sources(desktop_device PRIVATE program_folder.cpp rom_package_search.cpp)

tova_add_test(rom_package_test
  SOURCES tests/rom_package_header_test.cpp tests/rom_package_search_test.cpp
          tests/program_folder_test.cpp
  LIBS desktop_device)

target_sources(desktop_device PRIVATE transfer.cpp)
target_link_libraries(desktop_device PUBLIC rapi_client)
