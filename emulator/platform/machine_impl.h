// The machine behind tova::Machine: board, platform state, the machine thread that runs
// boots and resets, and the bookkeeping the Windows CE API implementation shares.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "call_gate.h"
#include "device_context.h"
#include "file_table.h"
#include "registry_handles.h"
#include "shared/rom_identity.h"
#include "state_folder.h"
#include "emulator/arm/guest_heap.h"
#include "emulator/arm/guest_memory.h"
#include "emulator/hw/board.h"
#include "emulator/machine.h"
#include "emulator/object_store.h"
#include "emulator/registry.h"

namespace tova {

// Guest memory and the local heap of one boot's ARM code: a reset ends every process and
// the heap with them.
struct ArmRuntime {
    explicit ArmRuntime(hw::Board& board) : memory(board), heap(memory) {}
    arm::GuestMemory memory;
    arm::GuestHeap heap;
};

// The value a boot leaves in the reserved page's warm-boot word. Anything else there (the
// 0 that the reset paths write, or RAM after a power cut) makes the next boot cold.
inline constexpr uint32_t kWarmBootToken = 0x57A2B007;

class MachineImpl final : public Machine {
public:
    MachineImpl(std::filesystem::path folder, StoredState state);
    ~MachineImpl() override;

    static MachineImpl* ActiveImpl();

    // ---- Machine ----
    void Save() override;
    const std::filesystem::path& StateFolder() const override { return folder_; }
    MachineConfig Config() const override;

    void PowerOn() override;
    bool Boot() override;
    void RequestReset(ResetKind kind) override;
    void PowerCut() override;
    void Shutdown() override;

    MachineState State() const override;
    bool Booted() const override;
    bool Dead() const override;
    uint32_t BootCount() const override;
    bool LastBootWarm() const override;
    uint32_t RomBuild() const override;
    uint16_t RomLanguageId() const override;
    std::u16string RomVersionText() const override;

    bool WaitUntilBooted(uint64_t timeoutMs) override;
    bool WaitUntilBootCount(uint32_t count, uint64_t timeoutMs) override;
    bool WaitUntilProgramsDone(uint64_t timeoutMs) override;
    bool WaitUntilState(MachineState state, uint64_t timeoutMs) override;

    hw::Board& Board() override { return *board_; }
    hw::Bus& Bus() override { return board_->Bus(); }
    hw::FlashModel& Flash() override { return board_->Flash(); }
    hw::Ram& Ram() override { return board_->Ram(); }
    hw::Gpio& Gpio() override { return board_->Gpio(); }
    hw::Display& Display() override { return board_->Display(); }
    hw::PageAllocator& Pages() override { return board_->Pages(); }
    bool InterruptsMasked() const override { return masked_.load(); }
    uint32_t SleepViolations() const override { return sleepViolations_.load(); }

    ObjectStore& Store() override { return store_; }
    Registry& Reg() override { return registry_; }
    std::vector<std::u16string> DebugLines() const override;
    std::vector<ShellLaunch> ShellLaunches() const override;
    std::vector<IoctlCall> IoctlLog() const override;
    std::vector<PriorityChange> PriorityChanges() const override;
    std::vector<uint32_t> Sleeps() const override;
    size_t OutstandingLocalAllocations() const override;
    bool IsLiveLocalAllocation(const void* block) const override;

    void SetAcOnline(bool online) override;
    void SetBatteryPercent(uint8_t percent) override;
    void SetIdentifier(const DeviceIdentifier& id) override;
    void SetFaults(const MachineFaults& faults) override;
    void SetBootDelayMs(uint32_t ms) override;
    void SetWarmBootToken(bool intact) override;

    bool LinkUp() const override;
    void SetCable(bool attached) override;
    bool CableAttached() const override;
    int SubscribeLinkState(LinkListener listener) override;
    void UnsubscribeLinkState(int subscription) override;

    void SetHostModuleFolder(const std::filesystem::path& folder) override;
    std::filesystem::path HostModuleFolder() const override;
    std::unique_ptr<LoadedModule> LoadModule(std::u16string_view handheldPath,
                                             std::string* error) override;
    std::unique_ptr<LoadedModule> LoadLibraryModule(std::u16string_view name,
                                                    std::string* error) override;
    bool RunDeviceCall(const std::function<void()>& call) override;
    // An ARM module on the emulated CPU (MachineConfig::armModules).
    std::unique_ptr<LoadedModule> LoadCpuModule(std::u16string_view handheldPath,
                                                const std::vector<uint8_t>& bytes, std::string* error);
    std::shared_ptr<ArmRuntime> ArmRuntimeOfThisBoot();

    // ---- For the Windows CE API implementation ----
    // Entered by every API call and hardware access: throws MachineHalted into a device
    // thread whose boot has ended, and keeps a reset from going on while the call runs.
    CallGate::Pass EnterPlatform() {
        CallGate::Pass pass(haltGate_);
        uint64_t mine = CurrentDeviceContext().generation;
        if (mine != 0 && mine != generation_.load()) throw MachineHalted{};
        return pass;
    }
    // Sleep on the scaled clock; wakes early (and throws) when the caller's boot ends.
    void SleepFor(uint32_t ms);
    void MaskInterrupts() { masked_ = true; }
    // Takes one answer of the model query: true when this one must be garbage.
    bool TakeModelQueryGarbage();
    void RecordIoctl(const IoctlCall& call);
    void RecordPriority(const PriorityChange& change);
    void RecordDebugLine(std::u16string line);
    DeviceIdentifier Identifier() const;
    bool AcOnline() const;
    uint8_t BatteryPercent() const;
    FileTable& Files() { return files_; }
    RegistryHandles& RegHandles() { return regHandles_; }
    uint64_t Generation() const { return generation_.load(); }

    bool ApplyFlashFault(const std::string& knob, const std::string& args,
                         std::string* error) override;

private:
    enum class Request { kNone, kBoot, kReset, kPowerCut, kShutdown, kQuit };

    // Machine thread.
    void MachineThread();
    // Ends the current boot at once (new generation, link down); the rest of the work is
    // the machine thread's.
    uint64_t PostRequest(Request request, ResetKind kind);
    void HaltDeviceCalls();
    void NotifyLink();
    bool WaitBootDelay();
    void DoReset(ResetKind kind);
    void StopDevices();
    void DoPowerCut();
    void DoBoot();
    void DoShutdown();
    void PrepareColdStore();
    void EnsureFolders();
    void RunStartupPrograms(uint32_t bootCount, uint64_t generation);
    void StartProgram(const std::u16string& path, uint32_t bootCount, uint64_t generation);
    void JoinFinishedPrograms();
    void JoinAllPrograms();
    void WaitForRequestDone(uint64_t ticket);
    bool ReadRomIdentity(RomIdentity* out);
    void WriteToken(uint32_t value);
    uint32_t ReadToken() const;
    StoredState SnapshotState() const;
    void ApplyFaultKnobs();
    // The module, or null with the reason; *refused when the reason is that the store's
    // file is not the build's own module (or no host module may run).
    std::unique_ptr<LoadedModule> LoadHostModule(std::u16string_view handheldPath,
                                                 std::string* error, bool* refused);
    void TakeStateOutOfTheFolder();

    std::filesystem::path folder_;
    std::mutex poweredOnce_;
    bool stateOutOfTheFolder_ = false;  // under poweredOnce_
    std::unique_ptr<hw::Board> board_;
    ObjectStore store_;
    Registry registry_;
    FileTable files_;
    RegistryHandles regHandles_;

    mutable std::mutex mutex_;  // everything below unless atomic
    std::condition_variable changed_;
    MachineConfig config_;
    std::vector<std::string> flashFaults_;
    std::filesystem::path hostModuleFolder_;  // empty: no host module runs
    MachineState state_ = MachineState::kOff;
    bool ramRetained_ = false;
    uint32_t bootCount_ = 0;
    uint32_t bootsAnnounced_ = 0;  // boots whose link state the listeners have heard
    bool lastBootWarm_ = false;
    bool usbDriverLoaded_ = false;
    RomIdentity rom_{};
    bool romValid_ = false;
    uint32_t modelQueryGarbageLeft_ = 0;
    struct Posted {
        Request request;
        ResetKind kind;
        uint64_t ticket;
    };
    std::deque<Posted> requests_;
    uint64_t requestsPosted_ = 0;
    uint64_t requestsDone_ = 0;
    bool lastLinkReported_ = false;
    std::vector<std::pair<int, LinkListener>> linkListeners_;
    int nextSubscription_ = 1;
    std::vector<std::u16string> debugLines_;
    std::vector<ShellLaunch> launches_;
    std::vector<IoctlCall> ioctls_;
    std::vector<PriorityChange> priorities_;
    static constexpr size_t kKeptSleeps = 4096;
    std::vector<uint32_t> sleeps_;
    struct Program {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::list<Program> programs_;
    std::shared_ptr<ArmRuntime> armRuntime_;
    uint64_t armRuntimeGeneration_ = 0;

    std::atomic<uint64_t> generation_{1};
    std::atomic<bool> masked_{false};
    std::atomic<uint32_t> sleepViolations_{0};
    CallGate haltGate_;  // entered by platform calls, waited for while halting
    std::mutex linkNotifyMutex_;   // one link notification at a time, in order
    std::thread machineThread_;
};

}  // namespace tova
