// One platform call made by ARM code: its arguments as the ARM procedure call standard
// passes them (r0-r3, then the stack), its guest pointers translated into host pointers
// into guest RAM with bounds checks, and its answer in r0.
//
// A pointer argument that is not wholly inside guest memory makes the call Bad(): it is
// logged as a guest error naming the function and the argument, and the caller answers
// with the function's failure value. No guest value ever becomes a host pointer outside
// the guest's RAM.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "emulator/arm/guest_memory.h"
#include "emulator/cpu/arm_cpu.h"

namespace tova::arm {

// Longest UTF-16 string a platform call takes from the guest, NUL included.
inline constexpr uint32_t kMaxGuestStringUnits = 32768;

class GuestCall {
public:
    GuestCall(cpu::ArmCpu& cpu, GuestMemory& memory, const char* function)
        : cpu_(cpu), memory_(memory), function_(function) {}

    // Argument `index` (0-based) as a 32-bit word.
    uint32_t Word(unsigned index);
    // A host pointer to `length` bytes at the guest pointer in argument `index`: null for
    // a null guest pointer (check Bad() for the rest).
    uint8_t* Buffer(unsigned index, uint32_t length);
    // The UTF-16 string at argument `index`, NUL-terminated within kMaxGuestStringUnits
    // units and guest memory. *present is false for a null pointer.
    std::u16string String(unsigned index, bool* present);
    // A string at a guest address (for the varargs of a format).
    std::u16string StringAt(uint32_t address, const char* what);

    bool Bad() const { return bad_; }
    void Return(uint32_t value) { cpu_.SetRegister(0, value); }
    const char* Function() const { return function_; }
    cpu::ArmCpu& Cpu() { return cpu_; }

private:
    void Refuse(uint32_t address, const std::string& what);

    cpu::ArmCpu& cpu_;
    GuestMemory& memory_;
    const char* function_;
    bool bad_ = false;
};

// A DWORD the platform writes through a guest pointer: the host implementation gets a
// local to write, and Store() copies it out (unaligned guest pointers are fine).
class OutWord {
public:
    explicit OutWord(uint8_t* guest) : guest_(guest) {
        if (guest_) std::memcpy(&value_, guest_, 4);  // in/out parameters start with their value
    }
    uint32_t* Pointer() { return guest_ ? &value_ : nullptr; }
    void Store() const {
        if (guest_) std::memcpy(guest_, &value_, 4);
    }

private:
    uint8_t* guest_;
    uint32_t value_ = 0;
};

}  // namespace tova::arm
