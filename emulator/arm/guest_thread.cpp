#include "emulator/arm/guest_thread.h"

#include <cstring>
#include <optional>
#include <stdexcept>

#include "emulator/arm/platform_imports.h"
#include "platform_call.h"

namespace tova::arm {

class GuestThread::PlatformGate final : public cpu::ArmCpu::DeviceAccessGate {
public:
    void Enter() override { call_.emplace(); }
    void Leave() override { call_.reset(); }

private:
    std::optional<PlatformCall> call_;
};

GuestThread::GuestThread(GuestMemory& memory, GuestHeap& heap)
    : memory_(memory), thunks_(memory, heap), cpu_(memory.Board()), gate_(std::make_unique<PlatformGate>()),
      stack_(memory.Allocate(kStackBytes)), codeSeen_(memory.CodeGeneration()) {
    if (!stack_) throw std::runtime_error("no room in guest RAM for a thread's stack");
    cpu_.SetDeviceAccessGate(gate_.get());
    cpu_.MapFixedCode(kThunkPage, ThunkCode());
    cpu_.SetSupervisorCallHandler([this](cpu::ArmCpu& cpu) { thunks_.Answer(cpu); });
}

GuestThread::~GuestThread() = default;

cpu::ArmCpu::Result GuestThread::Call(uint32_t entry, const std::vector<uint32_t>& arguments) {
    const uint64_t generation = memory_.CodeGeneration();
    if (generation != codeSeen_) {
        cpu_.CodeChanged();
        codeSeen_ = generation;
    }
    // The procedure call standard: r0-r3, the rest on an 8-byte aligned stack.
    const uint32_t onStack = arguments.size() > 4 ? uint32_t(arguments.size() - 4) : 0;
    const uint32_t top = stack_->Address() + stack_->Size();
    const uint32_t sp = (top - 4 * onStack) & ~7u;
    if (onStack) std::memcpy(memory_.Host(sp, 4 * onStack), arguments.data() + 4, 4 * onStack);
    return cpu_.Call(entry, arguments.data(), unsigned(arguments.size() < 4 ? arguments.size() : 4), sp);
}

}  // namespace tova::arm
