// The two ways the library restarts the handheld.
#pragma once

#include <cstdint>

// Clears the warm-boot token in the reserved RAM page of the configuration, then drives
// GPIO pin 21 (the hardware reset line) low: the handheld boots cold.
void ColdRestart(bool advanced);

// Removes the built-in drivers from the registry and asks the platform for a warm reboot,
// whatever the registry said.
void WarmRestart();

// GPIO registers of the PXA25x block that the cold restart drives.
inline constexpr uint32_t kGpioBase = 0xA9000000;
inline constexpr uint32_t kGpioDirection0 = kGpioBase + 0x0C;  // GPDR0: 1 = output
inline constexpr uint32_t kGpioSet0 = kGpioBase + 0x18;        // GPSR0
inline constexpr uint32_t kGpioClear0 = kGpioBase + 0x24;      // GPCR0
inline constexpr uint32_t kGpioPin0 = 1u << 0;
inline constexpr uint32_t kGpioResetLine = 1u << 21;
inline constexpr uint32_t kColdResetSettleMs = 500;
