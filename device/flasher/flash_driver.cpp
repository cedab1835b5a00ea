// The four routines of the update path. They live in their own section so that
// FlashPrepare can find their machine code and place it in the routine area; calls
// between them go through g_flashRoutines, never directly.
#include "flasher/flash_driver.h"

#include "flash_poll.h"
#include "flasher/console.h"
#include "wince/hw.h"

#define FLASH_ROUTINE __attribute__((section("velkor_flash_routines"), noinline))

FlashParameters g_flashParameters = {kFlashStart, kFlashBytes, kFlashBlockBytes};
FlashPollLimits g_flashPollLimits = {0x7FFFFFFFu, 0x0FFFFFFFu};
uint32_t g_lastFlashStatus = 0;

// Until FlashPrepare has run, the routines are reached where they were loaded.
FlashRoutines g_flashRoutines = {FlashEraseBlock, FlashEraseRange, FlashWriteBuffer,
                                 FlashProgramRange, {}, {}};

namespace {
constexpr uint32_t kGpioClearLow = 0x24;      // GPCR0
constexpr uint32_t kGpioDirectionLow = 0x0C;  // GPDR0
constexpr uint32_t kResetPin = 1u << 21;
}  // namespace

FLASH_ROUTINE uint32_t FlashEraseBlock(uint32_t blockAddress) {
    uint32_t status;
    HwWrite32(blockAddress, kCmdReadStatus);
    if (!FlashPollReady(blockAddress, g_flashPollLimits.operation, &status)) {
        HwWrite32(blockAddress, kCmdClearStatus);
        HwWrite32(blockAddress, kCmdReadArray);
        ConsolePrintf(kMessageColour, "E");
        return kFlashEraseFailed;
    }
    HwWrite32(blockAddress, kCmdClearStatus);
    HwWrite32(blockAddress, kCmdReadArray);
    HwWrite32(blockAddress, kCmdBlockErase);
    HwWrite32(blockAddress, kCmdConfirm);
    HwWrite32(blockAddress, kCmdReadStatus);
    bool ready = FlashPollReady(blockAddress, g_flashPollLimits.operation, &status);
    // A device that finished but reports an error (erase, sequence, voltage, lock) has not
    // erased the block: that is a failure too, or stale data would be programmed over.
    if (!ready || (status & kStatusErrors) != 0) {
        HwWrite32(blockAddress, kCmdClearStatus);
        HwWrite32(blockAddress, kCmdReadArray);
        ConsolePrintf(kMessageColour, "e");
        return kFlashEraseFailed;
    }
    HwWrite32(blockAddress, kCmdReadArray);
    return kFlashOk;
}

FLASH_ROUTINE uint32_t FlashEraseRange(uint32_t address, uint32_t length) {
    const uint32_t blockSize = g_flashParameters.blockSize;
    const uint64_t end = uint64_t(address) + length;
    for (uint64_t block = uint64_t(address / blockSize) * blockSize; block < end;
         block += blockSize) {
        uint32_t result = g_flashRoutines.eraseBlock(uint32_t(block) | kFlashUncachedBit);
        if (result != kFlashOk) return result;
    }
    HwWrite32(g_flashParameters.flashStart, kCmdReadArray);
    return kFlashOk;
}

FLASH_ROUTINE uint32_t FlashWriteBuffer(uint32_t flashAddress, uint32_t source,
                                        uint32_t wordCount) {
    uint32_t status;
    HwWrite32(flashAddress, kCmdWriteToBuffer);
    if (!FlashPollReady(flashAddress, g_flashPollLimits.operation, &status)) {
        HwWrite32(flashAddress, kCmdReadArray);
        // A device still waiting for its word count takes that read-array as a bad count
        // and reports a sequence error: clear it and ask for read-array once more.
        HwWrite32(flashAddress, kCmdClearStatus);
        HwWrite32(flashAddress, kCmdReadArray);
        g_lastFlashStatus = status;
        return kFlashProgramFailed;
    }
    HwWrite32(flashAddress, BothDevices(uint16_t(wordCount - 1)));
    // The source is RAM in the kernel's static window: read it in place when the platform
    // hands out the memory, word by word through the bus otherwise.
    const uint8_t* words = static_cast<const uint8_t*>(HwHostPointer(source, 4 * wordCount));
    for (uint32_t i = 0; i < wordCount; ++i) {
        uint32_t word;
        if (words != nullptr)  // little-endian bus words
            word = uint32_t(words[4 * i]) | uint32_t(words[4 * i + 1]) << 8 |
                   uint32_t(words[4 * i + 2]) << 16 | uint32_t(words[4 * i + 3]) << 24;
        else
            word = HwRead32(source + 4 * i);
        HwWrite32(flashAddress + 4 * i, word);
    }
    HwWrite32(flashAddress, kCmdConfirm);
    HwWrite32(flashAddress, kCmdClearStatus);
    HwWrite32(flashAddress, kCmdReadStatus);
    bool ready = FlashPollReady(flashAddress, g_flashPollLimits.operation, &status);
    // Error bits left set would also keep the next buffer request from ever being granted.
    bool failed = !ready || (status & kStatusErrors) != 0;
    if (ready && failed) HwWrite32(flashAddress, kCmdClearStatus);
    HwWrite32(flashAddress, kCmdReadArray);
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
    if (finalStep == 1 && gpioBase != 0) {
        HwWrite32(gpioBase + kGpioClearLow, kResetPin);
        HwWrite32(gpioBase + kGpioDirectionLow, HwRead32(gpioBase + kGpioDirectionLow) | kResetPin);
    }
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
