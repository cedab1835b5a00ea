// The hardware accessors on the handheld's own CPU: each is the volatile access to the
// kernel's statically mapped window itself.
#include "platform/wince/hw.h"

namespace {

// The kernel's static RAM windows (64 MiB each at most): cached and uncached.
constexpr uint32_t kRamCached = 0x84000000;
constexpr uint32_t kRamUncached = 0xA4000000;
constexpr uint32_t kRamWindowBytes = 0x04000000;

bool InsideWindow(uint32_t window, uint32_t address, uint32_t length) {
    return address >= window && length <= kRamWindowBytes &&
           address - window <= kRamWindowBytes - length;
}

}  // namespace

extern "C" {

uint8_t HwRead8(uint32_t address) { return *reinterpret_cast<volatile const uint8_t*>(address); }
uint16_t HwRead16(uint32_t address) {
    return *reinterpret_cast<volatile const uint16_t*>(address);
}
uint32_t HwRead32(uint32_t address) {
    return *reinterpret_cast<volatile const uint32_t*>(address);
}
void HwWrite8(uint32_t address, uint8_t value) {
    *reinterpret_cast<volatile uint8_t*>(address) = value;
}
void HwWrite16(uint32_t address, uint16_t value) {
    *reinterpret_cast<volatile uint16_t*>(address) = value;
}
void HwWrite32(uint32_t address, uint32_t value) {
    *reinterpret_cast<volatile uint32_t*>(address) = value;
}

void* HwHostPointer(uint32_t address, uint32_t length) {
    if (InsideWindow(kRamCached, address, length) || InsideWindow(kRamUncached, address, length))
        return reinterpret_cast<void*>(address);
    return nullptr;
}

void HwMaskInterrupts(void) {
    uint32_t psr;
    __asm__ volatile("mrs %0, cpsr" : "=r"(psr));
    psr |= 0xC0;  // I and F
    __asm__ volatile("msr cpsr_c, %0" : : "r"(psr) : "memory");
}

}  // extern "C"
