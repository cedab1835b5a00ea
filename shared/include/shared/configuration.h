// The two hardware configurations and the addresses that depend on them.
#pragma once

#include <cstdint>

inline constexpr uint32_t kMemoryConfigAdvanced = 0x02000200;
inline constexpr uint32_t kMemoryConfigBasic = 0x01000100;

// Model configuration query (KernelIoControl) and the selectors its callers pass.
inline constexpr uint32_t kModelQuerySelector = 6954;  // 0x1B2A: answer the configuration word
inline constexpr uint32_t kModelQuerySelectorFlasher = 2;

// Platform information query selectors.
inline constexpr uint32_t kPlatformInfoRomBuild = 6;
inline constexpr uint32_t kPlatformInfoVersionText = 17;
inline constexpr uint32_t kPlatformInfoVersionTextBytes = 16;

struct ModelAddresses {
    uint32_t memoryConfig;
    uint32_t ramBytes;
    uint32_t ramMegabytes;
    uint32_t romMegabytes;
    uint32_t reservedRamPage;   // uncached RAM window, 0x32000 below the top of RAM
    uint32_t flashRoutineArea;  // cached RAM window, 0x13FFC below the top of RAM
};

inline constexpr ModelAddresses kAdvancedModel{kMemoryConfigAdvanced, 64u << 20, 64, 48,
                                               0xA7FCE000, 0x87FEC004};
inline constexpr ModelAddresses kBasicModel{kMemoryConfigBasic, 32u << 20, 32, 32,
                                            0xA5FCE000, 0x85FEC004};

// RAM the handheld's system keeps for itself (kernel data, the system processes' heaps and
// stacks, the shell); the rest of RAM holds the object store, so a 32 MiB handheld still
// takes every segment file of a package.
inline constexpr uint32_t kSystemRamBytes = 4u << 20;
constexpr uint64_t ObjectStoreCapacity(const ModelAddresses& model) {
    return uint64_t(model.ramBytes) - kSystemRamBytes;
}

inline constexpr const ModelAddresses& ModelFor(bool advanced) {
    return advanced ? kAdvancedModel : kBasicModel;
}

// Words of the reserved RAM page that the handheld's programs clear.
inline constexpr uint32_t kReservedWordFlasherA = 0x324;
inline constexpr uint32_t kReservedWordFlasherB = 0x40C;
inline constexpr uint32_t kReservedWordWarmBootToken = 0x690;

// RAM windows: physical RAM at 0xA0000000 appears cached at 0x84000000 and uncached at
// 0xA4000000.
inline constexpr uint32_t kRamPhysicalBase = 0xA0000000;
inline constexpr uint32_t kRamCachedBase = 0x84000000;
inline constexpr uint32_t kRamUncachedBase = 0xA4000000;
inline constexpr uint32_t kPhysicalToKernelCached = 0x1C000000;  // kernel = physical - this

static_assert(kAdvancedModel.reservedRamPage == kRamUncachedBase + kAdvancedModel.ramBytes - 0x32000);
static_assert(kBasicModel.reservedRamPage == kRamUncachedBase + kBasicModel.ramBytes - 0x32000);
static_assert(kAdvancedModel.flashRoutineArea == kRamCachedBase + kAdvancedModel.ramBytes - 0x13FFC);
static_assert(kBasicModel.flashRoutineArea == kRamCachedBase + kBasicModel.ramBytes - 0x13FFC);
static_assert(kRamPhysicalBase - kPhysicalToKernelCached == kRamCachedBase);
