#include "device/service/resets.h"

#include "device/common/reserved_page.h"
#include "device/service/builtin_drivers.h"
#include "shared/configuration.h"
#include "platform/wince/api.h"
#include "platform/wince/hw.h"

// Each step reads the register afresh: the earlier steps change the pins it reflects.
static void SetRegisterBits(uint32_t address, uint32_t mask) {
    HwWrite32(address, HwRead32(address) | mask);
}

static void ClearRegisterBits(uint32_t address, uint32_t mask) {
    HwWrite32(address, HwRead32(address) & ~mask);
}

void ColdRestart(bool advanced) {
    Sleep(kColdResetSettleMs);
    ClearReservedWord(ModelFor(advanced).reservedRamPage, kReservedWordWarmBootToken);
    ClearRegisterBits(kGpioSet0, kGpioPin0);
    SetRegisterBits(kGpioClear0, kGpioPin0);
    SetRegisterBits(kGpioDirection0, kGpioPin0);
    ClearRegisterBits(kGpioSet0, kGpioResetLine);
    SetRegisterBits(kGpioClear0, kGpioResetLine);
    SetRegisterBits(kGpioDirection0, kGpioResetLine);
}

void WarmRestart() {
    RemoveBuiltInDrivers();  // whatever it reports, the reboot follows
    KernelIoControl(IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, nullptr);
}
