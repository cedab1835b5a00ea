#include "device/service/power.h"

#include "platform/wince/api.h"

PowerStatus ReadPowerStatus() {
    SYSTEM_POWER_STATUS_EX2 status = {};
    if (GetSystemPowerStatusEx2(&status, sizeof status, TRUE) == 0) {
        // The platform could not tell: report no external power, so the desktop refuses an
        // update rather than trusting an unknown supply.
        return {0, BATTERY_PERCENTAGE_UNKNOWN};
    }
    return {status.ACLineStatus == AC_LINE_ONLINE ? 1u : 0u, status.BatteryLifePercent};
}
