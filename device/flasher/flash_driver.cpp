// The four routines of the update path. They live in their own section so that
// FlashPrepare can find their machine code and place it in the routine area. A copy runs
// at another address than the one it was linked for, so the section holds no PC-relative
// reference to anything outside it (the build checks): hardware accesses are inline,
// there is no division, calls between the routines go through g_flashRoutines and the
// console is reached through the absolute address in g_flashRoutines.printMark.
#include "device/flasher/flash_driver.h"

#include "flash_poll.h"
#include "device/flasher/console.h"
#include "reset_line.h"
#include "platform/wince/hw.h"
#include "platform/wince/hw_inline.h"

#define FLASH_ROUTINE __attribute__((section("velkor_flash_routines"), noinline))

FlashParameters g_flashParameters = {kFlashStart, kFlashBytes, kFlashBlockBytes};
FlashPollLimits g_flashPollLimits = {0x7FFFFFFFu, 0x0FFFFFFFu};
uint32_t g_lastFlashStatus = 0;

// Until FlashPrepare has run, the routines are reached where they were loaded.
FlashRoutines g_flashRoutines = {FlashEraseBlock, FlashEraseRange,  FlashWriteBuffer,
                                 FlashProgramRange, ConsolePrintf, {}, {}};

FLASH_ROUTINE uint32_t FlashEraseBlock(uint32_t blockAddress) {
    uint32_t status;
    HwInlineWrite32(blockAddress, kCmdReadStatus);
    if (!FlashPollReady(blockAddress, g_flashPollLimits.operation, &status)) {
        HwInlineWrite32(blockAddress, kCmdClearStatus);
        HwInlineWrite32(blockAddress, kCmdReadArray);
        g_flashRoutines.printMark(kMessageColour, "E");
        return kFlashOperationFailed;
    }
    HwInlineWrite32(blockAddress, kCmdClearStatus);
    HwInlineWrite32(blockAddress, kCmdReadArray);
    HwInlineWrite32(blockAddress, kCmdBlockErase);
    HwInlineWrite32(blockAddress, kCmdConfirm);
    HwInlineWrite32(blockAddress, kCmdReadStatus);
    bool ready = FlashPollReady(blockAddress, g_flashPollLimits.operation, &status);
    // A device that finished but reports an error (erase, sequence, voltage, lock) has not
    // erased the block: that is a failure too, or stale data would be programmed over.
    if (!ready || (status & kStatusErrors) != 0) {
        HwInlineWrite32(blockAddress, kCmdClearStatus);
        HwInlineWrite32(blockAddress, kCmdReadArray);
        g_flashRoutines.printMark(kMessageColour, "e");
        return kFlashOperationFailed;
    }
    HwInlineWrite32(blockAddress, kCmdReadArray);
    return kFlashOk;
}

FLASH_ROUTINE uint32_t FlashEraseRange(uint32_t address, uint32_t length) {
    // The block size is a power of two: a mask, not a division (which would be a call).
    const uint32_t blockSize = g_flashParameters.blockSize;
    const uint64_t end = uint64_t(address) + length;
    for (uint64_t block = address & ~(blockSize - 1); block < end;
         block += blockSize) {
        uint32_t result = g_flashRoutines.eraseBlock(uint32_t(block) | kFlashUncachedBit);
        if (result != kFlashOk) return result;
    }
    HwInlineWrite32(g_flashParameters.flashStart, kCmdReadArray);
    return kFlashOk;
}

FLASH_ROUTINE uint32_t FlashWriteBuffer(uint32_t flashAddress, uint32_t source,
                                        uint32_t wordCount) {
    uint32_t status;
    HwInlineWrite32(flashAddress, kCmdWriteToBuffer);
    if (!FlashPollReady(flashAddress, g_flashPollLimits.operation, &status)) {
        HwInlineWrite32(flashAddress, kCmdReadArray);
        // A device still waiting for its word count takes that read-array as a bad count
        // and reports a sequence error: clear it and ask for read-array once more.
        HwInlineWrite32(flashAddress, kCmdClearStatus);
        HwInlineWrite32(flashAddress, kCmdReadArray);
        g_lastFlashStatus = status;
        return kFlashProgramFailed;
    }
    HwInlineWrite32(flashAddress, BothDevices(uint16_t(wordCount - 1)));
    // The source is RAM in the kernel's static window: read it in place when the platform
    // hands out the memory, word by word through the bus otherwise.
    const uint8_t* words = static_cast<const uint8_t*>(HwInlineRamPointer(source, 4 * wordCount));
    for (uint32_t i = 0; i < wordCount; ++i) {
        uint32_t word =
            words != nullptr ? HwInlineLoad32(words + 4 * i) : HwInlineRead32(source + 4 * i);
        HwInlineWrite32(flashAddress + 4 * i, word);
    }
    HwInlineWrite32(flashAddress, kCmdConfirm);
    HwInlineWrite32(flashAddress, kCmdClearStatus);
    HwInlineWrite32(flashAddress, kCmdReadStatus);
    bool ready = FlashPollReady(flashAddress, g_flashPollLimits.operation, &status);
    // Error bits left set would also keep the next buffer request from ever being granted.
    bool failed = !ready || (status & kStatusErrors) != 0;
    if (ready && failed) HwInlineWrite32(flashAddress, kCmdClearStatus);
    HwInlineWrite32(flashAddress, kCmdReadArray);
    if (failed) {
        g_lastFlashStatus = status;
        return kFlashProgramFailed;
    }
    return kFlashOk;
}

FLASH_ROUTINE uint32_t FlashProgramRange(uint32_t address, uint32_t source, uint32_t length,
                                         uint32_t gpioBase, uint32_t finalStep) {
    uint32_t result = g_flashRoutines.eraseRange(address, length);
    if (result != kFlashOk) return result;
    const uint32_t uncached = address | kFlashUncachedBit;
    for (uint32_t offset = 0; offset < length; offset += kWriteBufferBytes) {
        result = g_flashRoutines.writeBuffer(uncached + offset, source + offset, kWriteBufferWords);
        if (result != kFlashOk) return result;
    }
    if (finalStep == 1 && gpioBase != 0) DriveResetLineLow(gpioBase);
    return kFlashOk;
}

// Not one of the placed routines: it runs once, before anything is erased.
uint32_t FlashUnlock(uint32_t blockAddress) {
    const uint32_t lockStatusAddress = blockAddress + 4 * kIdBlockLockStatusWord;
    HwWrite32(lockStatusAddress, kCmdReadIdentifier);
    if (HwRead32(lockStatusAddress) == 0) {
        HwWrite32(blockAddress, kCmdReadArray);
        return kFlashOk;
    }
    HwWrite32(blockAddress, kCmdLockSetup);
    HwWrite32(blockAddress, kCmdClearLockBits);
    uint32_t status;
    uint32_t result =
        FlashPollReady(blockAddress, g_flashPollLimits.unlock, &status) ? kFlashOk : status;
    HwWrite32(blockAddress, kCmdReadArray);
    return result;
}
