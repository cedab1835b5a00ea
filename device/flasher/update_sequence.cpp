#include "device/flasher/update_sequence.h"

#include "device/common/reserved_page.h"
#include "device/flasher/console.h"
#include "device/flasher/flash_driver.h"
#include "device/flasher/segment_buffers.h"
#include "reset_line.h"
#include "shared/configuration.h"
#include "shared/flash_map.h"
#include "platform/wince/api.h"
#include "platform/wince/hw.h"

char g_bufferPrintArea[kBufferPrintAreaBytes];
uint32_t g_reservedRamPage = kAdvancedModel.reservedRamPage;

namespace {

// Memory controller (PXA25x layout).
constexpr uint32_t kMemoryController = 0xA8100000;
constexpr uint32_t kMdrefr = kMemoryController + 0x04;  // SDRAM refresh control
constexpr uint32_t kMsc0 = kMemoryController + 0x08;    // static timing, chip selects 0/1
constexpr uint32_t kMsc2 = kMemoryController + 0x10;    // static timing, chip selects 4/5
constexpr uint32_t kMdrefrBit20 = 0x00100000;
constexpr uint32_t kDisplayControlWord100 = 0xBE040100;
constexpr uint32_t kQuietenBeforeFlashingWord = 0xA8F00004;

void ClearBits(uint32_t address, uint32_t mask) { HwWrite32(address, HwRead32(address) & ~mask); }

void PrintRetry() {
    FormatRetryMessage(g_bufferPrintArea, g_lastFlashStatus);
    ConsolePrintf(kMessageColour, g_bufferPrintArea);
}

uint32_t ProgramRange(uint32_t flash, uint32_t source, uint32_t length, uint32_t finalStep) {
    return g_flashRoutines.programRange(flash, source, length, kGpioBase, finalStep);
}

// One kernel piece, retried on its own until it is in flash.
void ProgramKernelPiece(uint32_t flash, uint32_t source, uint32_t length, uint32_t finalStep) {
    while (ProgramRange(flash, source, length, finalStep) != kFlashOk) PrintRetry();
}

void QuietenBeforeFlashing() {
    HwWrite32(kMsc0, 0x7FF27FF2);
    HwWrite32(kMsc2, 0x7FFC7FF9);
    ClearBits(kMdrefr, kMdrefrBit20);
    HwWrite32(kDisplayControlWord100, 0);
    HwWrite32(kQuietenBeforeFlashingWord, 0);
}

}  // namespace

void FormatRetryMessage(char* out, uint32_t status) {
    static const char kPrefix[] = "Retry again ..E:0x";
    static const char kHex[] = "0123456789abcdef";
    char* p = out;
    for (const char* s = kPrefix; *s; ++s) *p++ = *s;
    for (int shift = 28; shift >= 0; shift -= 4) *p++ = kHex[(status >> shift) & 0xF];
    *p++ = '\n';
    *p = '\0';
}

int FlashSegmentFile(LPCWSTR path, uint32_t flashAddress) {
    uint32_t size = 0;
    if (LoadSegmentFile(path, flashAddress, &size) != 0) return -1;
    for (;;) {
        uint32_t offset = 0;
        uint32_t result = kFlashOk;
        while (offset < size && result == kFlashOk) {
            uint32_t n = size - offset < kSegmentBufferBytes ? size - offset : kSegmentBufferBytes;
            result = ProgramRange(flashAddress + offset,
                                  g_segmentBuffers.kernelAddress[offset / kSegmentBufferBytes], n, 0);
            if (result == kFlashOk) offset += n;
        }
        if (result == kFlashOk) return 0;
        PrintRetry();  // and the whole segment again from its first byte
    }
}

int FlashKernelFile(LPCWSTR path, uint32_t flashAddress) {
    uint32_t size = 0;
    if (LoadSegmentFile(path, flashAddress, &size) != 0) return -1;
    // The next reset must be a cold boot from the new ROM.
    ClearReservedWord(g_reservedRamPage, kReservedWordWarmBootToken);
    const uint32_t chunks = (size + kSegmentBufferBytes - 1) / kSegmentBufferBytes;
    uint32_t end = size;
    for (uint32_t c = chunks; c-- > 0;) {
        const uint32_t start = c * kSegmentBufferBytes;
        const uint32_t mid = start + kKernelPieceBytes;
        const uint32_t buffer = g_segmentBuffers.kernelAddress[c];
        if (mid < end) {
            ProgramKernelPiece(flashAddress + mid, buffer + kKernelPieceBytes, end - mid, 0);
            end = mid;
        }
        ProgramKernelPiece(flashAddress + start, buffer, end - start, c == 0 ? 1 : 0);
        end = start;
    }
    DriveResetLineLow(kGpioBase);
    return 0;
}

int RunFlashUpdate() {
    if (FlashPrepare() != kFlashOk) return kUpdateNotPrepared;
    QuietenBeforeFlashing();
    DisableInterrupts();
    // From here on nothing may sleep: no interrupt would end the sleep.
    if (FlashUnlock(kImageFlashAddress) != kFlashOk) {
        ConsolePrintf(kMessageColour, "Flash unlock failed ..\n");
        return kUpdateUnlockFailed;
    }
    ConsoleHome();
    ConsoleClear();
    ConsolePrintf(kMessageColour, "v1.075\n");
    for (const FlashSegment& segment : kFlashSegmentMap) {
        ConsolePrintf(kMessageColour, segment.progressLine);
        if (segment.isKernel)
            FlashKernelFile(segment.file, segment.flashAddress);
        else
            FlashSegmentFile(segment.file, segment.flashAddress);
        if (segment.deleteAfterWriting) DeleteFileW(segment.file);
    }
    return kUpdateDone;
}
