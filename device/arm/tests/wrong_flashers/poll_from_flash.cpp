// A flasher whose status poll runs from flash: it asks the block for its status and then
// calls the poll loop where the ROM holds it (`pollInFlash`, an address in a flash window)
// instead of from a copy in RAM. On the handheld the CPU would fetch status words as
// instructions.
#include "wrong_flasher.h"

WRONG_FLASHER_EXPORT uint32_t RunWrongRoutine(uint32_t blockAddress, uint32_t pollInFlash) {
    using PollRoutine = uint32_t (*)(uint32_t);
    HwInlineWrite32(blockAddress, kCmdReadStatus);
    return reinterpret_cast<PollRoutine>(pollInFlash)(blockAddress);
}
