# Compile options shared by every target, carried by one interface target.
add_library(tova_options INTERFACE)
target_compile_options(tova_options INTERFACE
  -Wall -Wextra -Wno-unused-parameter -Wno-missing-field-initializers)

# The emulator's own code, which sits under every guest access: position-independent as
# everything is, but nothing replaces its functions at load time, so the compiler may inline
# them into one another.
add_library(tova_emulator_options INTERFACE)
target_compile_options(tova_emulator_options INTERFACE -fno-semantic-interposition)

if(TOVA_SANITIZER STREQUAL "address")
  set(_tova_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
elseif(TOVA_SANITIZER STREQUAL "fuzzer")
  # Coverage for libFuzzer in every library; the fuzz targets add the fuzzer's own main.
  set(_tova_san -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                -fno-sanitize-recover=undefined)
elseif(TOVA_SANITIZER STREQUAL "thread")
  set(_tova_san -fsanitize=thread)
endif()
if(_tova_san)
  # Applied to the whole tree (not just tova_options) so that loadable modules and the
  # executables that host them always agree on the runtime.
  add_compile_options(${_tova_san})
  add_link_options(${_tova_san})
endif()

# Handheld modules (HARLIX.DLL, Velkor.exe): ELF shared objects that resolve the
# Windows CE API against the executable that loads them; only their entry points are
# visible and their own symbols bind inside the module.
function(tova_add_device_module target)
  cmake_parse_arguments(M "" "OUTPUT_NAME;SUFFIX" "SOURCES;LIBS" ${ARGN})
  add_library(${target} MODULE ${M_SOURCES})
  target_link_libraries(${target} PRIVATE tova_options wince_api ${M_LIBS})
  set_target_properties(${target} PROPERTIES
    PREFIX "" OUTPUT_NAME "${M_OUTPUT_NAME}" SUFFIX "${M_SUFFIX}"
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY "${TOVA_HOST_MODULE_DIR}")
  target_link_options(${target} PRIVATE -Wl,-Bsymbolic)
endfunction()

# An executable that loads handheld modules exports the platform API for them.
function(tova_host_modules target)
  set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
  target_link_libraries(${target} PRIVATE ${CMAKE_DL_LIBS})
endfunction()
