// The one polling helper of the flash driver. Forced inline, with an inline read, so that
// each routine placed in the routine area carries its own copy and calls nothing that
// lies elsewhere.
#pragma once

#include <cstdint>

#include "device/flasher/flash_commands.h"
#include "platform/wince/hw_inline.h"

// Reads `address` until both devices report bit 7 (ready, or buffer available after a
// write-to-buffer request), at most `limit` times. The last word read goes to *status.
__attribute__((always_inline)) inline bool FlashPollReady(uint32_t address, uint32_t limit,
                                                          uint32_t* status) {
    uint32_t word = 0;
    for (uint32_t i = 0; i < limit; ++i) {
        word = HwInlineRead32(address);
        if ((word & kStatusReady) == kStatusReady) break;
    }
    *status = word;
    return (word & kStatusReady) == kStatusReady;
}
