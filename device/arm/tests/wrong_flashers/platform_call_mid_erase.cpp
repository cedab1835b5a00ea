// A flasher that waits for an erase with the platform's Sleep between the erase command
// and the read-array command. The platform runs from flash, which answers status then.
#include "wrong_flasher.h"
#include "platform/wince/api.h"

WRONG_FLASHER_EXPORT uint32_t RunWrongRoutine(uint32_t blockAddress, uint32_t sleepMs) {
    HwInlineWrite32(blockAddress, kCmdBlockErase);
    HwInlineWrite32(blockAddress, kCmdConfirm);
    HwInlineWrite32(blockAddress, kCmdReadStatus);
    Sleep(sleepMs);
    while ((HwInlineRead32(blockAddress) & kStatusReady) != kStatusReady) {
    }
    HwInlineWrite32(blockAddress, kCmdReadArray);
    return HwInlineRead32(blockAddress);
}
