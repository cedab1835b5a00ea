// The record FnTOVAInfo hands to the desktop: 104 bytes, little-endian, no header.
// The desktop keeps only the first 72 bytes (valid .. romVersionText).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little,
              "DeviceInfo travels as raw little-endian bytes");

struct DeviceInfo {
    uint32_t valid;
    uint32_t acOnline;
    uint32_t batteryPercent;
    uint32_t languageId;
    uint32_t size;
    uint32_t ramMegabytes;
    uint32_t romMegabytes;
    uint32_t memoryConfig;
    uint32_t romBuild;
    uint32_t reserved;
    char16_t romVersionText[16];
    char16_t modelName[16];
};

inline constexpr uint32_t kDeviceInfoSize = 104;
// The library allocates a little more than it reports; only kDeviceInfoSize bytes travel.
inline constexpr uint32_t kDeviceInfoAllocSize = 108;
inline constexpr uint32_t kDeviceInfoDesktopBytes = 72;
inline constexpr uint32_t kBatteryUnknownDevice = 0xFFFFFFFF;

static_assert(sizeof(DeviceInfo) == kDeviceInfoSize);
static_assert(offsetof(DeviceInfo, valid) == 0);
static_assert(offsetof(DeviceInfo, acOnline) == 4);
static_assert(offsetof(DeviceInfo, batteryPercent) == 8);
static_assert(offsetof(DeviceInfo, languageId) == 12);
static_assert(offsetof(DeviceInfo, size) == 16);
static_assert(offsetof(DeviceInfo, ramMegabytes) == 20);
static_assert(offsetof(DeviceInfo, romMegabytes) == 24);
static_assert(offsetof(DeviceInfo, memoryConfig) == 28);
static_assert(offsetof(DeviceInfo, romBuild) == 32);
static_assert(offsetof(DeviceInfo, reserved) == 36);
static_assert(offsetof(DeviceInfo, romVersionText) == 40);
static_assert(offsetof(DeviceInfo, modelName) == 72);
static_assert(offsetof(DeviceInfo, modelName) == kDeviceInfoDesktopBytes);
