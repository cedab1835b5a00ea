# The handheld's CPU: an XScale PXA25x, ARMv5TE, code in ARM state, no floating-point unit.
# Debian's bare-metal GNU toolchain (gcc-arm-none-eabi); nothing of its C library is used.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_ASM_COMPILER arm-none-eabi-gcc)
set(CMAKE_OBJDUMP arm-none-eabi-objdump CACHE FILEPATH "")
set(CMAKE_READELF arm-none-eabi-readelf CACHE FILEPATH "")

set(_tova_arm_flags "-march=armv5te -marm -mfloat-abi=soft -mno-unaligned-access -ffreestanding")
set(CMAKE_C_FLAGS_INIT "${_tova_arm_flags}")
set(CMAKE_CXX_FLAGS_INIT "${_tova_arm_flags} -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-use-cxa-atexit")
# Modules are linked without the C library and its start-up files: libgcc only.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-nostdlib")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-nostdlib")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-nostdlib")

# A test compile would need a C library to link an executable.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# The generic platform does not know GNU ld's whole-archive switches.
set(CMAKE_LINK_LIBRARY_USING_WHOLE_ARCHIVE "LINKER:--whole-archive" "<LINK_ITEM>" "LINKER:--no-whole-archive")
set(CMAKE_LINK_LIBRARY_USING_WHOLE_ARCHIVE_SUPPORTED TRUE)

