// GPIO pin 21 is the handheld's hardware reset line (the line ColdReset drives too).
// Inline, with inline accesses, so that the flash routines can drive it from their copy
// in RAM without calling anything.
#pragma once

#include <cstdint>

#include "platform/wince/hw_inline.h"

inline constexpr uint32_t kGpioClearLowOffset = 0x24;      // GPCR0
inline constexpr uint32_t kGpioDirectionLowOffset = 0x0C;  // GPDR0
inline constexpr uint32_t kResetLinePin = 1u << 21;

// Makes pin 21 an output driven low: clear its level first, then turn it into an output,
// so that it never drives high on the way.
__attribute__((always_inline)) inline void DriveResetLineLow(uint32_t gpioBase) {
    HwInlineWrite32(gpioBase + kGpioClearLowOffset, kResetLinePin);
    const uint32_t direction = gpioBase + kGpioDirectionLowOffset;
    HwInlineWrite32(direction, HwInlineRead32(direction) | kResetLinePin);
}
