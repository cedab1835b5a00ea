// Construction, configuration, state queries and the bookkeeping of the machine. Boot and
// reset are in boot.cpp, the shell in shell.cpp, module loading in module_loader.cpp.
#include "machine_impl.h"

#include <algorithm>

#include "local_heap.h"
#include "platform/clock/clock.h"
#include "shared/device_identity.h"
#include "shared/flash_map.h"
#include "shared/segment_table.h"

namespace tova {

namespace fs = std::filesystem;

namespace {

std::atomic<MachineImpl*> g_active{nullptr};

// Timeouts of the Wait* helpers are nominal, but never shrink below this much real time:
// at scale 0 they would otherwise expire before the machine thread got to run. A timeout
// of 0 only looks.
constexpr auto kMinimumRealTimeout = std::chrono::seconds(10);
constexpr size_t kKeptDebugLines = 65536;

std::chrono::nanoseconds RealTimeout(uint64_t nominalMs) {
    if (nominalMs == 0) return std::chrono::nanoseconds(0);
    return std::max<std::chrono::nanoseconds>(ScaledMs(nominalMs), kMinimumRealTimeout);
}

void ValidateConfig(const MachineConfig& c) {
    if (c.batteryPercent > 100 && c.batteryPercent != 255)
        throw StateError("battery percent must be 0 to 100 or 255 (unknown)");
    if (c.defaultLanguageId == 0) throw StateError("the language identifier must not be 0");
}

}  // namespace

DeviceIdentifier DefaultDeviceIdentifier() {
    DeviceIdentifier id{0x54, 0x4F, 0x56, 0x41, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01};
    for (size_t i = 0; i < sizeof kIdentityPattern; ++i)
        id[kIdentityPatternOffset + i] = kIdentityPattern[i];
    return id;
}

Machine* Machine::Active() { return g_active.load(); }
MachineImpl* MachineImpl::ActiveImpl() { return g_active.load(); }

std::unique_ptr<Machine> Machine::Create(const fs::path& stateFolder, const MachineConfig& config,
                                         const std::vector<uint8_t>& flashImage) {
    ValidateConfig(config);
    if (flashImage.size() > kPackageSegmentsBytes)
        throw StateError("the flash image is larger than the flash from 0xA0040000");
    std::error_code ec;
    if (fs::exists(stateFolder / state_files::kConfig, ec))
        throw StateError(stateFolder.string() + " already holds a handheld");
    fs::create_directories(stateFolder, ec);
    if (ec) throw StateError("cannot create " + stateFolder.string() + ": " + ec.message());
    StoredState state;
    state.config = config;
    auto machine = std::make_unique<MachineImpl>(stateFolder, state);
    machine->Flash().LoadImage(kImageFlashAddress - kFlashStart, flashImage);
    machine->Save();
    return machine;
}

std::unique_ptr<Machine> Machine::Open(const fs::path& stateFolder) {
    StoredState state = ReadStoredState(stateFolder);
    std::error_code ec;
    if (!fs::is_directory(stateFolder / state_files::kStore, ec))
        throw StateError((stateFolder / state_files::kStore).string() +
                         " is missing: the handheld's object store is gone");
    auto machine = std::make_unique<MachineImpl>(stateFolder, state);
    try {
        machine->Flash().Load(stateFolder / state_files::kFlash);
    } catch (const hw::FlashFileError& e) {
        throw StateError(e.what());
    }
    machine->Reg().Load(stateFolder / state_files::kRegistry);
    return machine;
}

MachineImpl::MachineImpl(fs::path folder, StoredState state)
    : folder_(std::move(folder)),
      board_(std::make_unique<hw::Board>(state.config.Addresses())),
      store_(folder_ / state_files::kStore, ObjectStoreCapacity(state.config.Addresses())),
      config_(state.config),
      flashFaults_(state.flashFaults),
      bootCount_(state.bootCount),
      bootsAnnounced_(state.bootCount) {
    for (const auto& knob : flashFaults_) {
        size_t space = knob.find(' ');
        std::string error;
        if (!ApplyFlashFault(knob.substr(0, space),
                             space == std::string::npos ? "" : knob.substr(space + 1), &error))
            throw StateError((folder_ / state_files::kConfig).string() + ": stored " + error);
    }
    ApplyFaultKnobs();
    board_->Gpio().OnResetLine([this] { RequestReset(ResetKind::kResetLine); });
    board_->Flash().OnPowerCut([this] { PostRequest(Request::kPowerCut, ResetKind::kCold); });
    // A handheld that was switched off (not cut) still holds its battery-backed RAM.
    if (state.ramRetained) WriteToken(kWarmBootToken);
    MachineImpl* expected = nullptr;
    if (!g_active.compare_exchange_strong(expected, this))
        throw StateError("another handheld is already running in this process");
    machineThread_ = std::thread([this] { MachineThread(); });
}

MachineImpl::~MachineImpl() {
    PostRequest(Request::kQuit, ResetKind::kCold);
    if (machineThread_.joinable()) machineThread_.join();
    JoinAllPrograms();
    MachineImpl* self = this;
    g_active.compare_exchange_strong(self, nullptr);
}

MachineConfig MachineImpl::Config() const {
    std::lock_guard lock(mutex_);
    return config_;
}

StoredState MachineImpl::SnapshotState() const {
    StoredState s;
    {
        std::lock_guard lock(mutex_);
        s.config = config_;
        s.bootCount = bootCount_;
        s.flashFaults = flashFaults_;
    }
    s.ramRetained = ReadToken() == kWarmBootToken;
    return s;
}

void MachineImpl::Save() {
    WriteStoredState(folder_, SnapshotState());
    registry_.Save(folder_ / state_files::kRegistry);
    try {
        board_->Flash().Save(folder_ / state_files::kFlash);
    } catch (const hw::FlashFileError& e) {
        throw StateError(e.what());
    }
}

MachineState MachineImpl::State() const {
    std::lock_guard lock(mutex_);
    return state_;
}

bool MachineImpl::Booted() const { return State() == MachineState::kBooted; }
bool MachineImpl::Dead() const { return State() == MachineState::kDead; }

uint32_t MachineImpl::BootCount() const {
    std::lock_guard lock(mutex_);
    return bootCount_;
}

bool MachineImpl::LastBootWarm() const {
    std::lock_guard lock(mutex_);
    return lastBootWarm_;
}

uint32_t MachineImpl::RomBuild() const {
    std::lock_guard lock(mutex_);
    return romValid_ ? rom_.build : 0;
}

uint16_t MachineImpl::RomLanguageId() const {
    std::lock_guard lock(mutex_);
    return romValid_ ? static_cast<uint16_t>(rom_.languageId) : config_.defaultLanguageId;
}

std::u16string MachineImpl::RomVersionText() const {
    std::lock_guard lock(mutex_);
    if (!romValid_) return {};
    size_t n = 0;
    while (n < 16 && rom_.versionText[n] != 0) ++n;
    return std::u16string(rom_.versionText, n);
}

bool MachineImpl::WaitUntilBooted(uint64_t timeoutMs) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, RealTimeout(timeoutMs), [&] {
        return state_ == MachineState::kBooted && bootsAnnounced_ == bootCount_;
    });
}

bool MachineImpl::WaitUntilBootCount(uint32_t count, uint64_t timeoutMs) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, RealTimeout(timeoutMs), [&] {
        return bootsAnnounced_ >= count &&
               (state_ == MachineState::kBooted || state_ == MachineState::kDead);
    });
}

bool MachineImpl::WaitUntilProgramsDone(uint64_t timeoutMs) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, RealTimeout(timeoutMs), [&] {
        return std::all_of(programs_.begin(), programs_.end(),
                           [](const Program& p) { return p.done->load(); });
    });
}

bool MachineImpl::WaitUntilState(MachineState state, uint64_t timeoutMs) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, RealTimeout(timeoutMs), [&] { return state_ == state; });
}

std::vector<std::u16string> MachineImpl::DebugLines() const {
    std::lock_guard lock(mutex_);
    return debugLines_;
}

std::vector<ShellLaunch> MachineImpl::ShellLaunches() const {
    std::lock_guard lock(mutex_);
    return launches_;
}

std::vector<IoctlCall> MachineImpl::IoctlLog() const {
    std::lock_guard lock(mutex_);
    return ioctls_;
}

std::vector<PriorityChange> MachineImpl::PriorityChanges() const {
    std::lock_guard lock(mutex_);
    return priorities_;
}

std::vector<uint32_t> MachineImpl::Sleeps() const {
    std::lock_guard lock(mutex_);
    return sleeps_;
}

size_t MachineImpl::OutstandingLocalAllocations() const { return LocalHeap::Outstanding(); }

bool MachineImpl::IsLiveLocalAllocation(const void* block) const {
    return LocalHeap::IsLive(block);
}

void MachineImpl::SetAcOnline(bool online) {
    std::lock_guard lock(mutex_);
    config_.acOnline = online;
}

void MachineImpl::SetBatteryPercent(uint8_t percent) {
    std::lock_guard lock(mutex_);
    if (percent <= 100 || percent == 255) config_.batteryPercent = percent;
}

void MachineImpl::SetIdentifier(const DeviceIdentifier& id) {
    std::lock_guard lock(mutex_);
    config_.identifier = id;
}

void MachineImpl::SetFaults(const MachineFaults& faults) {
    {
        std::lock_guard lock(mutex_);
        config_.faults = faults;
        modelQueryGarbageLeft_ = faults.modelQueryGarbageCount;
    }
    ApplyFaultKnobs();
}

void MachineImpl::ApplyFaultKnobs() {
    MachineFaults faults = Config().faults;
    std::vector<std::pair<std::u16string, std::u16string>> undeletable;
    for (const auto& v : faults.undeletableRegistryValues) undeletable.emplace_back(v.key, v.name);
    registry_.SetUndeletableValues(std::move(undeletable));
    board_->Pages().SetFragmentation(faults.ramFragmentation);
}

void MachineImpl::SetBootDelayMs(uint32_t ms) {
    std::lock_guard lock(mutex_);
    config_.bootDelayMs = ms;
}

void MachineImpl::SetWarmBootToken(bool intact) { WriteToken(intact ? kWarmBootToken : 0); }

DeviceIdentifier MachineImpl::Identifier() const { return Config().identifier; }
bool MachineImpl::AcOnline() const { return Config().acOnline; }
uint8_t MachineImpl::BatteryPercent() const { return Config().batteryPercent; }

bool MachineImpl::TakeModelQueryGarbage() {
    std::lock_guard lock(mutex_);
    if (modelQueryGarbageLeft_ == 0) return false;
    --modelQueryGarbageLeft_;
    return true;
}

void MachineImpl::RecordIoctl(const IoctlCall& call) {
    std::lock_guard lock(mutex_);
    ioctls_.push_back(call);
}

void MachineImpl::RecordPriority(const PriorityChange& change) {
    std::lock_guard lock(mutex_);
    priorities_.push_back(change);
}

void MachineImpl::RecordDebugLine(std::u16string line) {
    std::lock_guard lock(mutex_);
    if (debugLines_.size() >= kKeptDebugLines)
        debugLines_.erase(debugLines_.begin(), debugLines_.begin() + kKeptDebugLines / 2);
    debugLines_.push_back(std::move(line));
}

// ---- Link ------------------------------------------------------------------------------

bool MachineImpl::LinkUp() const {
    std::lock_guard lock(mutex_);
    return state_ == MachineState::kBooted && config_.cableAttached && usbDriverLoaded_;
}

void MachineImpl::SetCable(bool attached) {
    {
        std::lock_guard lock(mutex_);
        config_.cableAttached = attached;
    }
    NotifyLink();
}

bool MachineImpl::CableAttached() const {
    std::lock_guard lock(mutex_);
    return config_.cableAttached;
}

int MachineImpl::SubscribeLinkState(LinkListener listener) {
    std::lock_guard lock(mutex_);
    int id = nextSubscription_++;
    linkListeners_.emplace_back(id, std::move(listener));
    return id;
}

void MachineImpl::UnsubscribeLinkState(int subscription) {
    std::lock_guard notifying(linkNotifyMutex_);  // not while a notification runs
    std::lock_guard lock(mutex_);
    std::erase_if(linkListeners_, [&](const auto& l) { return l.first == subscription; });
}

void MachineImpl::NotifyLink() {
    std::lock_guard notifying(linkNotifyMutex_);
    bool up = LinkUp();
    std::vector<LinkListener> listeners;
    {
        std::lock_guard lock(mutex_);
        if (up == lastLinkReported_) return;
        lastLinkReported_ = up;
        for (const auto& l : linkListeners_) listeners.push_back(l.second);
    }
    for (const auto& listener : listeners) listener(up);
}

// ---- Device calls ------------------------------------------------------------------------

void MachineImpl::SleepFor(uint32_t ms) {
    uint64_t mine = CurrentDeviceContext().generation;
    if (mine != 0 && mine != generation_.load()) throw MachineHalted{};
    if (masked_.load()) ++sleepViolations_;
    auto until = std::chrono::steady_clock::now() + ScaledMs(ms);
    std::unique_lock lock(mutex_);
    if (sleeps_.size() < kKeptSleeps) sleeps_.push_back(ms);
    bool halted = changed_.wait_until(lock, until, [&] {
        return mine != 0 && mine != generation_.load();
    });
    if (halted) throw MachineHalted{};
}

bool MachineImpl::RunDeviceCall(const std::function<void()>& call) {
    uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        if (state_ != MachineState::kBooted) return false;
        generation = generation_.load();
    }
    DeviceScope scope(generation);
    try {
        call();
    } catch (const MachineHalted&) {
        return false;
    }
    return true;
}

}  // namespace tova
