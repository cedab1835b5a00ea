// One guest thread: a CPU context over the board with the platform's thunk page mapped,
// its supervisor calls answered by the platform, and a stack of its own in guest RAM.
// Calls run on the calling host thread; as platform calls do, they must run as device code
// of the current boot (Machine::RunDeviceCall), and a boot that ends under them ends them
// with MachineHalted.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "emulator/arm/guest_heap.h"
#include "emulator/arm/guest_memory.h"
#include "emulator/arm/platform_thunks.h"
#include "emulator/cpu/arm_cpu.h"

namespace tova::arm {

class GuestThread {
public:
    static constexpr uint32_t kStackBytes = 256 * 1024;

    // Throws std::runtime_error when guest RAM has no room for the stack.
    GuestThread(GuestMemory& memory, GuestHeap& heap);
    ~GuestThread();

    // Calls ARM code at `entry` with any number of word arguments (the fifth on go on the
    // stack), until it returns or a guest error ends it (a register dump in the result).
    cpu::ArmCpu::Result Call(uint32_t entry, const std::vector<uint32_t>& arguments);

    cpu::ArmCpu& Cpu() { return cpu_; }

    // Device accesses enter the platform as the host build's hardware accessors do: a
    // thread whose boot has ended stops at its next one with MachineHalted.
    class PlatformGate;

private:
    GuestMemory& memory_;
    PlatformThunks thunks_;
    cpu::ArmCpu cpu_;
    std::unique_ptr<PlatformGate> gate_;
    std::unique_ptr<GuestBlock> stack_;
    uint64_t codeSeen_;
};

}  // namespace tova::arm
