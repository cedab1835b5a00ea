// What the device information page found against the update. Process-wide 32-bit words,
// 0 at program start and only ever set to 1; the refusal page and the start-up read them.
#pragma once

#include <atomic>
#include <cstdint>

// Some check failed: the start-up shows the refusal page instead of going on.
extern std::atomic<int32_t> g_bRefuse;
// The package's language differs from the handheld's.
extern std::atomic<int32_t> g_bLanguageMismatch;
// The package build is not newer than the handheld's ROM build.
extern std::atomic<int32_t> g_bSameVersion;

// The battery level an update needs at least, in percent (an unsigned comparison, so the
// 0xFFFFFFFF of an unrecognised handheld passes).
inline constexpr uint32_t kMinimumBatteryPercent = 40;
