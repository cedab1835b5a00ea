# ROM package reader and transfer engine: sources and tests.

# The package key and header scrambling stand alone so the package tool shares them
# without pulling in the link.
add_library(rom_package_format STATIC rom_package_key.cpp)
target_include_directories(rom_package_format PUBLIC include)
target_link_libraries(rom_package_format PUBLIC tova_shared PRIVATE tova_options)

target_link_libraries(desktop_device PUBLIC rom_package_format)
