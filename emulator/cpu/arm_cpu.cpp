#include "emulator/cpu/arm_cpu.h"

#include <unicorn/unicorn.h>

#include <cinttypes>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace tova::cpu {

namespace {

constexpr uint32_t kPageBytes = 0x1000;
constexpr uint32_t kCpsrSystemMode = 0x1F;  // privileged, interrupts enabled, ARM state
constexpr uint32_t kCpsrIrqFiqMasked = 0xC0;
constexpr uint32_t kExceptionSupervisorCall = 2;  // unicorn's number for svc

void Check(uc_err err, const char* what) {
    if (err != UC_ERR_OK) throw std::runtime_error(std::string(what) + ": " + uc_strerror(err));
}

bool AnyChipOutOfReadArray(hw::FlashModel& flash) {
    for (unsigned chip = 0; chip < 2; ++chip)
        if (!flash.Activity(chip).readArray) return true;
    return false;
}

bool IsFlash(uint32_t address) {
    return (address >= hw::kFlashCachedWindow && address - hw::kFlashCachedWindow < kFlashBytes) ||
           (address >= hw::kFlashUncachedWindow && address - hw::kFlashUncachedWindow < kFlashBytes);
}

}  // namespace

struct ArmCpu::MmioWindow {
    ArmCpu* cpu;
    hw::Bus* bus;
    uint32_t base;
    bool cachedFlash;
};

template <typename Access>
bool ArmCpu::Gated(Access access) {
    // Nothing may unwind through the CPU's C code.
    try {
        if (gate_) gate_->Enter();
    } catch (...) {
        handlerException_ = std::current_exception();
        Stop("the device access ended the thread");
        return false;
    }
    try {
        access();
    } catch (const std::exception& e) {
        Stop(e.what());
    }
    if (gate_) gate_->Leave();
    return true;
}

struct ArmCpu::Callbacks {
    static uint64_t Read(uc_engine*, uint64_t offset, unsigned size, void* user) {
        auto* w = static_cast<MmioWindow*>(user);
        uint64_t value = 0;
        w->cpu->Gated([&] { value = w->bus->Read(w->base + uint32_t(offset), size); });
        return value;
    }
    static void Write(uc_engine*, uint64_t offset, unsigned size, uint64_t value, void* user) {
        auto* w = static_cast<MmioWindow*>(user);
        const uint32_t address = w->base + uint32_t(offset);
        if (w->cachedFlash) {
            // A command through the cache could sit in a line and reach the chips late or
            // never: the flash is commanded through its uncached window only.
            w->cpu->Stop("write through the cached flash window at " + Hex(address));
            try {
                w->bus->GuestErrors().Record({hw::GuestErrorKind::kGuestCode, true, address, size,
                                              uint32_t(value), "flash (cached)",
                                              "write through the cached flash window"});
            } catch (const std::exception&) {  // made fatal: the call has stopped already
            }
            return;
        }
        w->cpu->Gated([&] { w->bus->Write(address, uint32_t(value), size); });
    }
    static void Interrupt(uc_engine*, uint32_t number, void* user) {
        auto* cpu = static_cast<ArmCpu*>(user);
        const uint32_t pc = cpu->Register(15);
        if (number != kExceptionSupervisorCall) {
            cpu->StopWithGuestError("undefined instruction at " + Hex(pc));
            return;
        }
        if (!cpu->supervisorCall_) {
            cpu->StopWithGuestError("supervisor call at " + Hex(pc - 4) + " with no platform to answer it");
            return;
        }
        try {
            cpu->supervisorCall_(*cpu);
        } catch (...) {
            cpu->handlerException_ = std::current_exception();
            cpu->Stop("the platform call at " + Hex(pc - 4) + " ended the thread");
        }
    }
    static std::string Hex(uint32_t value) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08" PRIX32, value);
        return text;
    }
};

// Flash is a device here, never executable memory: handheld code runs from RAM. A fetch
// from it is a guest error, named for what it would be on the handheld.
std::string ArmCpu::FlashFetchReason(uint32_t pc) const {
    const std::string where = Callbacks::Hex(pc);
    if (AnyChipOutOfReadArray(board_.Flash()))
        return "instruction fetched from flash at " + where +
               " while a chip is out of read-array mode";
    return "instruction fetched from flash at " + where + ": handheld code runs from RAM";
}

ArmCpu::ArmCpu(hw::Board& board) : board_(board) {
    Check(uc_open(UC_ARCH_ARM, UC_MODE_ARM, &uc_), "starting the CPU");
    Check(uc_ctl_set_cpu_model(uc_, UC_CPU_ARM_PXA255), "choosing the PXA255");
    hw::Ram& ram = board.Ram();
    Check(uc_mem_map_ptr(uc_, hw::kRamCachedWindow, ram.Size(), UC_PROT_ALL, ram.Data()),
          "mapping RAM (cached)");
    Check(uc_mem_map_ptr(uc_, hw::kRamUncachedWindow, ram.Size(), UC_PROT_ALL, ram.Data()),
          "mapping RAM (uncached)");
    Check(uc_mem_map(uc_, kReturnAddress, kPageBytes, UC_PROT_READ), "mapping the return page");
    for (const hw::BusWindow& window : board.Bus().Windows()) {
        if (window.base == hw::kRamCachedWindow || window.base == hw::kRamUncachedWindow) continue;
        auto mmio = std::make_unique<MmioWindow>(
            MmioWindow{this, &board.Bus(), window.base, window.base == hw::kFlashCachedWindow});
        const uint32_t size = (window.size + kPageBytes - 1) & ~(kPageBytes - 1);
        Check(uc_mmio_map(uc_, window.base, size, Callbacks::Read, mmio.get(), Callbacks::Write,
                          mmio.get()),
              "mapping a device window");
        windows_.push_back(std::move(mmio));
    }
    uint32_t cpsr = kCpsrSystemMode;
    Check(uc_reg_write(uc_, UC_ARM_REG_CPSR, &cpsr), "setting the CPSR");
    uc_hook hook;
    Check(uc_hook_add(uc_, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(Callbacks::Interrupt), this, 1, 0),
          "hooking exceptions");
}

void ArmCpu::SetSupervisorCallHandler(SupervisorCallHandler handler) {
    supervisorCall_ = std::move(handler);
}

void ArmCpu::MapFixedCode(uint32_t address, const std::vector<uint32_t>& words) {
    const uint32_t bytes = uint32_t(words.size() * 4);
    const uint32_t size = (bytes + kPageBytes - 1) & ~(kPageBytes - 1);
    Check(uc_mem_map(uc_, address, size, UC_PROT_READ | UC_PROT_EXEC), "mapping fixed code");
    Check(uc_mem_write(uc_, address, words.data(), bytes), "writing fixed code");
}

void ArmCpu::StopWithGuestError(const std::string& reason) {
    const uint32_t pc = Register(15);
    Stop(reason);
    try {
        board_.Bus().GuestErrors().Record(
            {hw::GuestErrorKind::kGuestCode, false, pc, 4, 0, "cpu", reason + "; " + RegisterDump()});
    } catch (const std::exception&) {  // made fatal: the call has stopped already
    }
}

ArmCpu::~ArmCpu() { uc_close(uc_); }

void ArmCpu::Stop(std::string reason) {
    if (stopReason_.empty()) stopReason_ = std::move(reason);
    uc_emu_stop(uc_);
}

namespace {
const int kRegisters[16] = {
        UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2,  UC_ARM_REG_R3,  UC_ARM_REG_R4,  UC_ARM_REG_R5,
        UC_ARM_REG_R6, UC_ARM_REG_R7, UC_ARM_REG_R8,  UC_ARM_REG_R9,  UC_ARM_REG_R10, UC_ARM_REG_R11,
        UC_ARM_REG_R12, UC_ARM_REG_SP, UC_ARM_REG_LR, UC_ARM_REG_PC};
}  // namespace

void ArmCpu::SetRegister(int index, uint32_t value) { uc_reg_write(uc_, kRegisters[index & 15], &value); }

uint32_t ArmCpu::Register(int index) const {
    uint32_t value = 0;
    uc_reg_read(uc_, kRegisters[index & 15], &value);
    return value;
}

bool ArmCpu::InterruptsMasked() const {
    uint32_t cpsr = 0;
    uc_reg_read(uc_, UC_ARM_REG_CPSR, &cpsr);
    return (cpsr & kCpsrIrqFiqMasked) == kCpsrIrqFiqMasked;
}

// A flush resets unicorn's whole code buffer (touching every page of it): a CPU that has
// translated nothing since the last one has nothing to forget.
void ArmCpu::CodeChanged() {
    if (!translated_) return;
    uc_ctl(uc_, UC_CTL_WRITE(UC_CTL_TB_FLUSH, 0));
    translated_ = false;
}

std::string ArmCpu::RegisterDump() const {
    std::string dump;
    char line[64];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(line, sizeof line, "%sr%d=0x%08" PRIX32, i ? " " : "", i, Register(i));
        dump += line;
    }
    uint32_t cpsr = 0;
    uc_reg_read(uc_, UC_ARM_REG_CPSR, &cpsr);
    std::snprintf(line, sizeof line, " cpsr=0x%08" PRIX32, cpsr);
    return dump + line;
}

ArmCpu::Result ArmCpu::Call(uint32_t entry, const uint32_t* arguments, unsigned count,
                            uint32_t stackTop) {
    static const int kArgumentRegisters[4] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2,
                                              UC_ARM_REG_R3};
    for (unsigned i = 0; i < count && i < 4; ++i) uc_reg_write(uc_, kArgumentRegisters[i], &arguments[i]);
    uint32_t lr = kReturnAddress;
    uc_reg_write(uc_, UC_ARM_REG_SP, &stackTop);
    uc_reg_write(uc_, UC_ARM_REG_LR, &lr);
    stopReason_.clear();
    handlerException_ = nullptr;
    translated_ = true;
    uc_err err = uc_emu_start(uc_, entry, kReturnAddress, 0, 0);
    if (handlerException_) std::rethrow_exception(std::exchange(handlerException_, nullptr));
    uint32_t pc = Register(15);
    if (err == UC_ERR_OK && stopReason_.empty() && pc == kReturnAddress) return {true, Register(0), {}};
    std::string why = !stopReason_.empty() ? stopReason_
                      : err == UC_ERR_FETCH_PROT && IsFlash(pc) ? FlashFetchReason(pc)
                      : err == UC_ERR_INSN_INVALID ? "undefined instruction at " + Callbacks::Hex(pc)
                      : err == UC_ERR_FETCH_UNMAPPED ? "jump to " + Callbacks::Hex(pc) + " where there is no code"
                      : err != UC_ERR_OK ? std::string(uc_strerror(err))
                                         : "stopped at " + Callbacks::Hex(pc);
    Result result{false, 0, why + "; " + RegisterDump()};
    // Errors the callbacks met are recorded already; a test that made guest errors fatal
    // gets its exception here, outside the CPU.
    if (stopReason_.empty())
        board_.Bus().GuestErrors().Record(
            {hw::GuestErrorKind::kGuestCode, false, pc, 4, 0, "cpu", result.error});
    return result;
}

}  // namespace tova::cpu
