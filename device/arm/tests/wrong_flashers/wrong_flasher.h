// What the deliberately wrong flashers share: each exports its wrong routine as
// RunWrongRoutine(blockAddress, extra) and a correct one, ReadArrayAgain(blockAddress),
// that waits for the chips as the real flasher does (an erase may still be running), puts
// them back into read-array mode and returns the first word of the block, to show the
// handheld still works after the guest error.
#pragma once

#include <cstdint>

#include "device/flasher/flash_commands.h"
#include "platform/wince/hw_inline.h"

#define WRONG_FLASHER_EXPORT extern "C" __attribute__((visibility("default"), noinline))

WRONG_FLASHER_EXPORT uint32_t RunWrongRoutine(uint32_t blockAddress, uint32_t extra);

WRONG_FLASHER_EXPORT uint32_t ReadArrayAgain(uint32_t blockAddress) {
    HwInlineWrite32(blockAddress, kCmdReadStatus);
    for (uint32_t polls = 0; polls < 0x0FFFFFFFu; ++polls)
        if ((HwInlineRead32(blockAddress) & kStatusReady) == kStatusReady) break;
    HwInlineWrite32(blockAddress, kCmdClearStatus);
    HwInlineWrite32(blockAddress, kCmdReadArray);
    return HwInlineRead32(blockAddress);
}
