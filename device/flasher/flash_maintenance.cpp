// Flash routines that the update path never calls: word programming, locking, block
// geometry and the protection register.
#include "flash_poll.h"
#include "device/flasher/flash_driver.h"
#include "platform/wince/api.h"

namespace {
FlashOtpRoutine g_otpRoutine = nullptr;
}

// Leaves the devices answering status: the caller writes read-array when it is done.
uint32_t FlashWriteWord(uint32_t address, uint32_t value) {
    uint32_t status;
    HwWrite32(address, kCmdWordProgram);
    HwWrite32(address, value);
    if (!FlashPollReady(address, g_flashPollLimits.operation, &status)) return kFlashOperationFailed;
    return (status & kStatusErrors) != 0 ? kFlashOperationFailed : kFlashOk;
}

uint32_t FlashLockBlock(uint32_t blockAddress) {
    uint32_t status;
    HwWrite32(blockAddress, kCmdClearStatus);
    HwWrite32(blockAddress, kCmdReadStatus);
    HwWrite32(blockAddress, kCmdLockSetup);
    HwWrite32(blockAddress, kCmdSetLockBit);
    if (!FlashPollReady(blockAddress, g_flashPollLimits.operation, &status) ||
        (status & kStatusErrors) != 0)
        return kFlashOperationFailed;  // the status stays readable for the caller
    HwWrite32(blockAddress, kCmdReadArray);
    return kFlashOk;
}

uint32_t FlashGetBlockInfo(uint32_t start, uint32_t length, uint32_t* blockStart,
                           uint32_t* blockLength) {
    const FlashParameters& p = g_flashParameters;
    if (p.flashStart == 0xFFFFFFFFu || p.flashLength == 0xFFFFFFFFu) {
        NKDbgPrintfW(u"FLASH: FlashGetBlockInfo(): Flash parameters not fixed up!\n");
        return kFlashNotFixedUp;
    }
    // Computed wide so that a length running past 4 GiB cannot wrap back into the flash,
    // and an empty range (whose end would lie before its start) is refused.
    const uint64_t end = uint64_t(start) + length - 1;
    const uint64_t flashEnd = uint64_t(p.flashStart) + p.flashLength - 1;
    if (length == 0 || start < p.flashStart || end > flashEnd) {
        NKDbgPrintfW(u"FLASH: FlashGetBlockInfo() returning false\n");
        NKDbgPrintfW(u"FLASH: start=%Xh flashstart=%Xh end=%Xh flashlen=%Xh\n", start,
                     p.flashStart, uint32_t(end), p.flashLength);
        return kFlashOutOfRange;
    }
    *blockStart = (start / p.blockSize) * p.blockSize;
    *blockLength = uint32_t(((end - *blockStart) / p.blockSize + 1) * p.blockSize);
    return kFlashOk;
}

uint32_t FlashReadProtectionRegister(uint16_t* destination) {
    const uint32_t flash = g_flashParameters.flashStart;
    uint32_t status;
    HwWrite32(flash, kCmdClearStatus);
    HwWrite32(flash, kCmdReadStatus);
    if (!FlashPollReady(flash, g_flashPollLimits.operation, &status)) {
        HwWrite32(flash, kCmdReadArray);
        return kFlashProgramFailed;
    }
    HwWrite32(flash, kCmdReadIdentifier);
    for (uint32_t i = 0; i < kIdProtectionFactoryWords; ++i)
        destination[i] = uint16_t(HwRead32(flash + 4 * (kIdProtectionFactoryFirst + i)));
    HwWrite32(flash, kCmdReadArray);
    return kFlashOk;
}

void FlashInstallOtpRoutine(FlashOtpRoutine routine) { g_otpRoutine = routine; }

uint32_t FlashReadOTP(uint16_t* destination) {
    if (g_otpRoutine == nullptr) return kFlashNotFixedUp;
    NKDbgPrintfW(u"FlashReadOTP Start!!\r\n");
    uint32_t result = g_otpRoutine(destination);
    NKDbgPrintfW(u"FlashReadOTP End!!\r\n");
    if (result != kFlashOk) NKDbgPrintfW(u"ERROR, Cannot READ OTP!!");
    return result;
}
