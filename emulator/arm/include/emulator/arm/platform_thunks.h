// The platform's answers to ARM code: for each Windows CE function a module imports, read
// its arguments from the CPU, translate guest pointers (GuestCall), call the emulator's
// implementation of the function (the same one the host build's modules call) and put the
// result in r0. Memory the platform hands the guest (LocalAlloc) is guest memory from the
// guest heap; VirtualAlloc's process addresses pass through as the opaque values they are.
#pragma once

#include "emulator/arm/guest_heap.h"
#include "emulator/arm/guest_memory.h"
#include "emulator/cpu/arm_cpu.h"

namespace tova::arm {

class PlatformThunks {
public:
    PlatformThunks(GuestMemory& memory, GuestHeap& heap) : memory_(memory), heap_(heap) {}

    // The CPU's supervisor call handler: answers the call whose thunk just ran its svc. An
    // svc anywhere else ends the guest thread with a guest error.
    void Answer(cpu::ArmCpu& cpu);

private:
    GuestMemory& memory_;
    GuestHeap& heap_;
};

}  // namespace tova::arm
