// The handheld's power state as the device information record reports it.
#pragma once

#include <cstdint>

struct PowerStatus {
    uint32_t acOnline;        // 1 on external power, else 0
    uint32_t batteryPercent;  // main battery percent, 255 when the platform cannot tell
};

PowerStatus ReadPowerStatus();
