// Power status, default language, system information and the per-thread last error.
#include <cstring>

#include "platform_call.h"
#include "platform/wince/api.h"

namespace {

constexpr BYTE kBatteryFlagHigh = 0x01;
constexpr BYTE kBatteryFlagLow = 0x02;
constexpr BYTE kBatteryFlagCritical = 0x04;
constexpr BYTE kBatteryFlagCharging = 0x08;
constexpr BYTE kBatteryFlagUnknown = 0xFF;
constexpr DWORD kUnknownTime = 0xFFFFFFFF;
constexpr BYTE kBatteryChemistryLion = 0x04;

DWORD& LastError() {
    thread_local DWORD error = ERROR_SUCCESS;
    return error;
}

BYTE BatteryFlag(uint8_t percent, bool ac) {
    if (percent == BATTERY_PERCENTAGE_UNKNOWN) return kBatteryFlagUnknown;
    BYTE flag = percent > 66 ? kBatteryFlagHigh : percent >= 10 ? kBatteryFlagLow : kBatteryFlagCritical;
    if (ac && percent < 100) flag |= kBatteryFlagCharging;
    return flag;
}

}  // namespace

namespace tova {
void SetThreadError(uint32_t error) { LastError() = error; }
}  // namespace tova

extern "C" {

DWORD GetLastError(void) { return LastError(); }
void SetLastError(DWORD dwErrCode) { LastError() = dwErrCode; }

DWORD GetSystemPowerStatusEx2(PSYSTEM_POWER_STATUS_EX2 status, DWORD dwLen, BOOL) {
    tova::PlatformCall call;
    if (!call || !status || dwLen < sizeof(SYSTEM_POWER_STATUS_EX2)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::memset(status, 0, sizeof *status);
    bool ac = call->AcOnline();
    uint8_t percent = call->BatteryPercent();
    status->ACLineStatus = ac ? AC_LINE_ONLINE : AC_LINE_OFFLINE;
    status->BatteryFlag = BatteryFlag(percent, ac);
    status->BatteryLifePercent = percent;
    status->BatteryLifeTime = kUnknownTime;
    status->BatteryFullLifeTime = kUnknownTime;
    status->BackupBatteryFlag = kBatteryFlagHigh;
    status->BackupBatteryLifePercent = 100;
    status->BackupBatteryLifeTime = kUnknownTime;
    status->BackupBatteryFullLifeTime = kUnknownTime;
    status->BatteryVoltage = 3700 + (percent <= 100 ? percent * 5u : 0u);
    status->BatteryTemperature = 250;
    status->BatteryChemistry = kBatteryChemistryLion;
    SetLastError(ERROR_SUCCESS);
    return sizeof(SYSTEM_POWER_STATUS_EX2);
}

LANGID GetSystemDefaultLangID(void) {
    tova::PlatformCall call;
    return call ? call->RomLanguageId() : LANGID(0x0409);
}

void GetSystemInfo(LPSYSTEM_INFO info) {
    if (!info) return;
    info->dwPageSize = 4096;
    info->dwAllocationGranularity = 0x10000;
    info->dwNumberOfProcessors = 1;
}

}  // extern "C"
