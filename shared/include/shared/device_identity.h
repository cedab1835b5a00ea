// The last six bytes of the device identifier (IOCTL_HAL_GET_UUID) that mark a Vorn Tova
// handheld. The service library checks them; the emulated handheld's default identifier
// ends in them.
#pragma once

#include <cstdint>

inline constexpr uint32_t kDeviceIdentifierBytes = 16;
inline constexpr uint32_t kIdentityPatternOffset = 10;
inline constexpr uint8_t kIdentityPattern[6] = {0x56, 0x54, 0x51, 0x37, 0x05, 0x26};
