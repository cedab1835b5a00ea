// Hardware accesses for code that must not call out of itself: the flash routines, which
// run from a copy in RAM where a call to a routine outside the copy would land on the
// wrong address. On the handheld's CPU each is the volatile access itself; the host build,
// which has no handheld address space, goes through the accessors of platform/wince/hw.h.
#pragma once

#include <cstdint>

#include "platform/wince/hw.h"

#if defined(__arm__)
#define TOVA_HW_DIRECT 1
#else
#define TOVA_HW_DIRECT 0
#endif

// Whether code copied into RAM runs where it lies. On the handheld's CPU it does; the host
// build has no CPU for the handheld's RAM and runs such code where it was loaded.
inline constexpr bool kHwRunsCopiedCode = TOVA_HW_DIRECT;

__attribute__((always_inline)) inline uint32_t HwInlineRead32(uint32_t address) {
#if TOVA_HW_DIRECT
    return *reinterpret_cast<volatile const uint32_t*>(address);
#else
    return HwRead32(address);
#endif
}

__attribute__((always_inline)) inline void HwInlineWrite32(uint32_t address, uint32_t value) {
#if TOVA_HW_DIRECT
    *reinterpret_cast<volatile uint32_t*>(address) = value;
#else
    HwWrite32(address, value);
#endif
}

// A readable view of `length` bytes of RAM at a kernel-window address, or null when the
// range is not RAM. On the handheld the address is the pointer.
__attribute__((always_inline)) inline const void* HwInlineRamPointer(uint32_t address,
                                                                     uint32_t length) {
#if TOVA_HW_DIRECT
    return reinterpret_cast<const void*>(address);
#else
    return HwHostPointer(address, length);
#endif
}

// The little-endian bus word at a 4-byte aligned place of such a view.
__attribute__((always_inline)) inline uint32_t HwInlineLoad32(const void* at) {
#if TOVA_HW_DIRECT
    return *static_cast<const uint32_t*>(at);
#else
    const uint8_t* b = static_cast<const uint8_t*>(at);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
#endif
}
