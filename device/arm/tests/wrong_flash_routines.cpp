// Flash routines as they would be written without thought for the copy: a hardware access
// through the accessor function is a PC-relative call out of the routine section. Built
// only by the test that expects the build's check to refuse it.
#include <cstdint>

#include "platform/wince/hw.h"

__attribute__((section("velkor_flash_routines"), noinline)) uint32_t WrongEraseBlock(
    uint32_t blockAddress) {
    HwWrite32(blockAddress, 0x00200020);
    HwWrite32(blockAddress, 0x00D000D0);
    return 0;
}
