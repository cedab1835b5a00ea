// Start-up of the flasher: choose the screen and the model's addresses, tell the firmware,
// show the banner for a minute, take the processor for this thread and quieten the
// hardware, then write the segments.
#include "device/flasher/flasher_main.h"

#include "device/common/model_detection.h"
#include "device/common/reserved_page.h"
#include "device/flasher/console.h"
#include "device/flasher/flash_driver.h"
#include "device/flasher/update_sequence.h"
#include "shared/configuration.h"
#include "platform/wince/api.h"
#include "platform/wince/hw.h"

namespace {

constexpr uint32_t kDisplayActiveFrameWord = 0xBE0401B0;

// GPIO unit, PXA25x layout.
constexpr uint32_t kGpdr1 = kGpioBase + 0x10;  // direction, pins 32-63
constexpr uint32_t kGpsr0 = kGpioBase + 0x18;  // set, pins 0-31
constexpr uint32_t kGpsr1 = kGpioBase + 0x1C;  // set, pins 32-63
constexpr uint32_t kGpcr0 = kGpioBase + 0x24;  // clear, pins 0-31
constexpr uint32_t kGpcr1 = kGpioBase + 0x28;  // clear, pins 32-63
constexpr uint32_t kGrer0 = kGpioBase + 0x30;  // rising-edge detect, pins 0-31
constexpr uint32_t kGfer0 = kGpioBase + 0x3C;  // falling-edge detect, pins 0-31
constexpr uint32_t kDisplayControlWord320 = 0xBE040320;
constexpr uint32_t kDisplayControlWord00C = 0xBE04000C;
constexpr uint32_t kQuietenHardwareWord = 0xA9500004;

constexpr uint32_t kBannerCycles = 10;
constexpr uint16_t kBannerColours[] = {kMessageColour, kBannerColour2, kBannerColour3};

void ClearBits(uint32_t address, uint32_t mask) { HwWrite32(address, HwRead32(address) & ~mask); }
void SetBits(uint32_t address, uint32_t mask) { HwWrite32(address, HwRead32(address) | mask); }

void ChooseClearBase() {
    g_clearBase = HwRead32(kDisplayActiveFrameWord) != 0 ? kDrawingBase : kAlternateClearBase;
}

void ChooseModelAddresses() {
    const ModelAddresses& model = DetectedModel();
    g_reservedRamPage = model.reservedRamPage;
    g_flashRoutineArea = model.flashRoutineArea;
}

void TellFirmwareFlasherStarts() {
    ClearReservedWord(g_reservedRamPage, kReservedWordFlasherA);
    DWORD selector = kModelQuerySelectorFlasher;
    KernelIoControl(IOCTL_HAL_MODEL_CONFIG, &selector, sizeof selector, nullptr, 0, nullptr);
    ClearReservedWord(g_reservedRamPage, kReservedWordFlasherB);
}

void ShowBanner() {
    for (uint32_t cycle = 0; cycle < kBannerCycles; ++cycle) {
        for (uint16_t colour : kBannerColours) {
            ConsoleHome();
            ConsoleClear();
            ConsolePrintf(colour, "\n\n\n\n\n\n\n\n\n");
            ConsolePrintf(colour, "      System updating...\n");
            Sleep(2000);
        }
    }
}

void TakeProcessor() {
    SetThreadPriority(CURRENT_THREAD_PSEUDO_HANDLE, THREAD_PRIORITY_TIME_CRITICAL);
    CeSetThreadPriority(CURRENT_THREAD_PSEUDO_HANDLE, 0);
}

// Edge detection of pins 4, 2 and 5 off; pin 22 high; pins 39-41 and 19 low; pin 60 an
// output driven high.
void QuietenHardware() {
    static const uint32_t kEdgePins[] = {0x10, 0x04, 0x20};
    for (uint32_t bit : kEdgePins) {
        ClearBits(kGrer0, bit);
        ClearBits(kGfer0, bit);
    }
    HwWrite32(kGpsr0, 0x00400000);
    HwWrite32(kGpcr1, 0x00000380);
    HwWrite32(kGpcr0, 0x00080000);
    ClearBits(kDisplayControlWord320, 0x08);
    HwWrite32(kDisplayControlWord00C, 0);
    HwWrite32(kQuietenHardwareWord, 0);
    ClearBits(kGpcr1, 0x10000000);
    SetBits(kGpsr1, 0x10000000);
    SetBits(kGpdr1, 0x10000000);
}

}  // namespace

int FlasherMain(void*, void*, WCHAR*, int) {
    ChooseClearBase();
    ChooseModelAddresses();
    TellFirmwareFlasherStarts();
    Sleep(5000);
    ShowBanner();
    TakeProcessor();
    QuietenHardware();
    Sleep(500);
    return RunFlashUpdate() == kUpdateNotPrepared ? 1 : 0;
}
