// A flasher that commands the flash through its cached window (the block's address
// without the uncached bit): on the handheld the command could sit in a cache line and
// reach the chips late or never.
#include "wrong_flasher.h"

WRONG_FLASHER_EXPORT uint32_t RunWrongRoutine(uint32_t blockAddress, uint32_t) {
    const uint32_t cached = blockAddress & ~kFlashUncachedBit;
    HwInlineWrite32(cached, kCmdReadStatus);
    return HwInlineRead32(blockAddress);
}
