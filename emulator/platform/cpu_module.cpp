// Modules for the handheld's CPU: an ARM module from the object store placed in guest RAM
// by the emulator's loader, its exports run on a CPU context of the calling thread with the
// platform's thunks. Memory the platform hands the guest comes from the boot's guest heap,
// which a reset forgets with the rest of the processes' memory.
#include <cstring>

#include "machine_impl.h"
#include "emulator/arm/arm_module.h"
#include "emulator/arm/guest_thread.h"

namespace tova {

namespace {

constexpr int32_t kFailed = int32_t(0x80004005);  // E_FAIL

class CpuModule final : public LoadedModule, public CpuExports {
public:
    CpuModule(MachineImpl& machine, std::shared_ptr<ArmRuntime> runtime, std::unique_ptr<arm::ArmModule> module)
        : machine_(machine), runtime_(std::move(runtime)), module_(std::move(module)) {}

    void* Symbol(const char*) const override { return nullptr; }
    CpuExports* Cpu() override { return this; }
    bool Has(const char* name) const override { return module_->Export(name) != 0; }

    BlockModeAnswer CallBlockMode(const char* name, const uint8_t* input, uint32_t count) override {
        arm::GuestHeap& heap = runtime_->heap;
        arm::GuestMemory& memory = runtime_->memory;
        BlockModeAnswer answer;
        uint32_t in = 0;
        if (count > 0) {
            in = heap.Allocate(count);
            if (in == 0) return {int32_t(0x8007000E), false, {}};  // E_OUTOFMEMORY
            std::memcpy(memory.Host(in, count), input, count);
        }
        const uint32_t outputs = heap.Allocate(8);  // cbOutput, then pOutput
        if (outputs == 0) {
            heap.Free(in);
            return {int32_t(0x8007000E), false, {}};
        }
        // Frees the service's blocks whether the call returns, fails or is halted.
        struct Blocks {
            arm::GuestHeap& heap;
            uint32_t in, outputs;
            ~Blocks() {
                if (in) heap.Free(in);  // unless the export freed it
                heap.Free(outputs);
            }
        } blocks{heap, in, outputs};
        auto result = Run(name, {count, in, outputs, outputs + 4, 0});
        if (!result.ok) return {kFailed, false, {}};
        answer.result = int32_t(result.value);
        uint32_t bytes = 0, out = 0;
        std::memcpy(&bytes, memory.Host(outputs, 4), 4);
        std::memcpy(&out, memory.Host(outputs + 4, 4), 4);
        // Only a live LocalAlloc block is read: anything else may already be gone.
        const uint8_t* data = out != 0 && heap.IsLive(out) ? memory.Host(out, bytes) : nullptr;
        if (data) {
            answer.outputReadable = true;
            answer.output.assign(data, data + bytes);
        }
        if (out != 0 && out != outputs) heap.Free(out);
        return answer;
    }

    bool CallStartup(const char* name) override { return Run(name, {0, 0, 0, 0}).ok; }

private:
    cpu::ArmCpu::Result Run(const char* name, const std::vector<uint32_t>& arguments) {
        arm::GuestThread thread(runtime_->memory, runtime_->heap);
        cpu::ArmCpu::Result result = thread.Call(module_->Export(name), arguments);
        if (!result.ok)
            machine_.RecordDebugLine(FromUtf8("guest error in " + module_->Name() + " " + name + ": " + result.error));
        return result;
    }

    MachineImpl& machine_;
    std::shared_ptr<ArmRuntime> runtime_;
    std::unique_ptr<arm::ArmModule> module_;
};

}  // namespace

std::shared_ptr<ArmRuntime> MachineImpl::ArmRuntimeOfThisBoot() {
    std::lock_guard lock(mutex_);
    if (!armRuntime_ || armRuntimeGeneration_ != generation_.load()) {
        armRuntime_ = std::make_shared<ArmRuntime>(*board_);
        armRuntimeGeneration_ = generation_.load();
    }
    return armRuntime_;
}

std::unique_ptr<LoadedModule> MachineImpl::LoadCpuModule(std::u16string_view handheldPath,
                                                         const std::vector<uint8_t>& bytes,
                                                         std::string* error) {
    std::shared_ptr<ArmRuntime> runtime = ArmRuntimeOfThisBoot();
    std::string path = ToUtf8(handheldPath);
    const size_t slash = path.rfind('\\');
    auto module = arm::ArmModule::Load(slash == std::string::npos ? path : path.substr(slash + 1), bytes,
                                       runtime->memory, error);
    if (!module) return nullptr;
    return std::make_unique<CpuModule>(*this, std::move(runtime), std::move(module));
}

}  // namespace tova
