// Hardware accessors on the handheld's 32-bit kernel virtual addresses (the statically
// mapped windows above 0x80000000). On a real handheld each is a volatile pointer access;
// on the host they go to the emulated handheld's bus.
#pragma once

#include <cstdint>

extern "C" {

uint8_t HwRead8(uint32_t address);
uint16_t HwRead16(uint32_t address);
uint32_t HwRead32(uint32_t address);
void HwWrite8(uint32_t address, uint8_t value);
void HwWrite16(uint32_t address, uint16_t value);
void HwWrite32(uint32_t address, uint32_t value);

// A host pointer to `length` bytes of RAM at a RAM-window address (cached or uncached),
// or null when the range is not wholly inside RAM. Used where the platform hands data to
// RAM by pointer, as ReadFile does.
void* HwHostPointer(uint32_t address, uint32_t length);

// Sets the I and F bits of the processor status register: IRQ and FIQ masked. Nothing
// unmasks them again in the running program.
void HwMaskInterrupts(void);

}  // extern "C"
