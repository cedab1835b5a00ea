// One guest thread's CPU: an XScale PXA255 (ARMv5TE; instructions it lacks are undefined)
// emulated by unicorn, over the board's memory and devices. The emulated RAM is the
// guest's RAM at both of its windows (cached 0x84000000, uncached 0xA4000000: one
// physical memory); every other window of the bus is MMIO that goes to its device model.
//
// Checks only a CPU can make, each a guest error (kind kGuestCode) that ends the call:
// an instruction fetched from either flash window (named as such when a flash chip is out
// of read-array mode; handheld code runs from RAM, so any fetch from flash is refused),
// a write through the cached flash window, an undefined instruction, a fetch from an
// address where nothing is. Each call's result carries a register dump.
//
// Not emulated: exceptions and their vectors, the MMU and caches (both windows see the
// same memory at once), interrupts (the CPSR I and F bits are kept and reported only).
// One context per host thread; several contexts may share one board.
//
// A supervisor call (svc) goes to the handler the owner sets (the platform's thunks); with
// none set, or for any other exception, the call ends with a guest error.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "emulator/hw/board.h"

struct uc_struct;

namespace tova::cpu {

class ArmCpu {
public:
    explicit ArmCpu(hw::Board& board);
    ~ArmCpu();
    ArmCpu(const ArmCpu&) = delete;
    ArmCpu& operator=(const ArmCpu&) = delete;

    struct Result {
        bool ok;             // returned to the caller; false after a guest error
        uint32_t value;      // r0 on return
        std::string error;   // what stopped the guest, with its registers
    };
    // Runs the ARM-state code at `entry` with up to four arguments in r0-r3 and the stack
    // at `stackTop`, until it returns (bx lr) or a guest error stops it.
    Result Call(uint32_t entry, const uint32_t* arguments, unsigned count, uint32_t stackTop);

    // The CPSR's I and F bits: both set is "interrupts masked".
    bool InterruptsMasked() const;
    // Forgets translated code: after the host wrote code into guest memory.
    void CodeChanged();

    uint32_t Register(int index) const;  // r0-r15
    void SetRegister(int index, uint32_t value);

    // Called for each svc with the CPU at the instruction after it; it may read and set
    // registers. An exception it throws stops the guest and leaves Call (nothing unwinds
    // through the CPU emulator's C code).
    using SupervisorCallHandler = std::function<void(ArmCpu&)>;
    void SetSupervisorCallHandler(SupervisorCallHandler handler);
    // Maps read-only code at `address` (page aligned, outside every window of the board):
    // the platform's own code that no guest may change.
    void MapFixedCode(uint32_t address, const std::vector<uint32_t>& words);
    // Entered around every device access (MMIO) the guest makes, as a platform call is
    // entered around a hardware accessor: Enter may throw (the guest's boot has ended),
    // which stops the guest and leaves Call like a supervisor call handler's exception.
    class DeviceAccessGate {
    public:
        virtual ~DeviceAccessGate() = default;
        virtual void Enter() = 0;
        virtual void Leave() = 0;
    };
    void SetDeviceAccessGate(DeviceAccessGate* gate) { gate_ = gate; }

    // Ends the running call with a guest error (kind kGuestCode) saying `reason`; for a
    // supervisor call handler.
    void StopWithGuestError(const std::string& reason);

    // Where a guest's call returns to: a word of its own that the CPU never runs.
    static constexpr uint32_t kReturnAddress = 0xFFFF0000;

private:
    struct Callbacks;
    struct MmioWindow;
    uc_struct* uc_;
    std::vector<std::unique_ptr<MmioWindow>> windows_;
    hw::Board& board_;
    std::string stopReason_;
    SupervisorCallHandler supervisorCall_;
    std::exception_ptr handlerException_;
    DeviceAccessGate* gate_ = nullptr;
    bool translated_ = false;  // code may have been translated since the last flush

    // Runs one device access inside the gate; false when the gate refused it.
    template <typename Access>
    bool Gated(Access access);

    std::string RegisterDump() const;
    std::string FlashFetchReason(uint32_t pc) const;
    void Stop(std::string reason);
};

}  // namespace tova::cpu
