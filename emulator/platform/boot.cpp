// Power, boot and reset. Every transition runs on the machine thread, in the order asked
// for. Asking for a reset, power cut or shutdown ends the running boot at once: the boot
// generation moves on (device threads of the old boot halt at their next platform call)
// and the link reports down before anything else happens.
#include <cstring>

#include "machine_impl.h"
#include "platform/clock/clock.h"
#include "shared/flash_map.h"

namespace tova {

namespace {

// Windows CE shortcuts: the length of the target text, '#', the quoted target.
constexpr char kOutlookShortcut[] = "23#\"\\Windows\\poutlook.exe\"";
constexpr char kWelcomeShortcut[] = "22#\"\\Windows\\welcome.exe\"";

std::vector<uint8_t> Bytes(const char* text) {
    return std::vector<uint8_t>(text, text + std::strlen(text));
}

}  // namespace

uint64_t MachineImpl::PostRequest(Request request, ResetKind kind) {
    std::lock_guard lock(mutex_);
    if (request == Request::kBoot) {
        if (state_ != MachineState::kOff) return 0;
        state_ = MachineState::kBooting;
    } else {
        ++generation_;
        if (state_ != MachineState::kOff) state_ = MachineState::kResetting;
    }
    uint64_t ticket = ++requestsPosted_;
    requests_.push_back({request, kind, ticket});
    changed_.notify_all();
    return ticket;
}

void MachineImpl::WaitForRequestDone(uint64_t ticket) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return requestsDone_ >= ticket; });
}

void MachineImpl::PowerOn() {
    TakeStateOutOfTheFolder();
    PostRequest(Request::kBoot, ResetKind::kCold);
}

bool MachineImpl::Boot() {
    TakeStateOutOfTheFolder();
    uint32_t before = BootCount();
    if (PostRequest(Request::kBoot, ResetKind::kCold) == 0) return Booted();
    WaitUntilBootCount(before + 1, 3600000);
    return Booted();
}

void MachineImpl::RequestReset(ResetKind kind) {
    if (State() == MachineState::kOff) return;  // nothing to reset without power
    PostRequest(Request::kReset, kind);
}

void MachineImpl::PowerCut() {
    uint64_t ticket = PostRequest(Request::kPowerCut, ResetKind::kCold);
    // A device thread cannot wait: the machine thread waits for its call to end.
    if (CurrentDeviceContext().generation == 0) WaitForRequestDone(ticket);
}

void MachineImpl::Shutdown() {
    uint64_t ticket = PostRequest(Request::kShutdown, ResetKind::kWarm);
    WaitForRequestDone(ticket);
    Save();
}

void MachineImpl::MachineThread() {
    for (;;) {
        Posted posted;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return !requests_.empty(); });
            posted = requests_.front();
            requests_.pop_front();
        }
        NotifyLink();
        switch (posted.request) {
        case Request::kBoot:
            if (State() == MachineState::kBooting && WaitBootDelay()) DoBoot();
            break;
        case Request::kReset:
            DoReset(posted.kind);
            if (WaitBootDelay()) DoBoot();
            break;
        case Request::kPowerCut:
            DoPowerCut();
            break;
        case Request::kShutdown:
        case Request::kQuit:
            DoShutdown();
            break;
        case Request::kNone:
            break;
        }
        {
            std::lock_guard lock(mutex_);
            requestsDone_ = posted.ticket;
            changed_.notify_all();
        }
        NotifyLink();
        if (posted.request == Request::kQuit) return;
    }
}

// Waits the nominal boot delay; false when another request came meanwhile (it wins).
bool MachineImpl::WaitBootDelay() {
    std::unique_lock lock(mutex_);
    if (!requests_.empty()) return false;
    state_ = MachineState::kBooting;
    auto delay = ScaledMs(config_.bootDelayMs);
    return !changed_.wait_for(lock, delay, [&] { return !requests_.empty(); });
}

void MachineImpl::HaltDeviceCalls() {
    // Calls that began before the generation moved on finish; later ones throw.
    haltGate_.WaitForCallsToEnd();
}

void MachineImpl::StopDevices() {
    HaltDeviceCalls();
    files_.CloseAll();
    regHandles_.CloseAll();
    JoinFinishedPrograms();
}

void MachineImpl::DoReset(ResetKind kind) {
    StopDevices();
    if (kind == ResetKind::kCold) WriteToken(0);
    if (kind == ResetKind::kWarm) WriteToken(kWarmBootToken);
    board_->Reset();
    masked_ = false;
}

void MachineImpl::DoPowerCut() {
    StopDevices();
    board_->Reset();
    board_->Ram().Clear();
    board_->Display().Frame(0).Fill(0);
    board_->Display().Frame(1).Fill(0);
    masked_ = false;
    std::lock_guard lock(mutex_);
    state_ = MachineState::kOff;
    romValid_ = false;
    usbDriverLoaded_ = false;
}

void MachineImpl::DoShutdown() {
    StopDevices();
    masked_ = false;
    std::lock_guard lock(mutex_);
    state_ = MachineState::kOff;
    usbDriverLoaded_ = false;
}

void MachineImpl::DoBoot() {
    RomIdentity rom{};
    bool valid = ReadRomIdentity(&rom);
    if (!valid) {
        std::lock_guard lock(mutex_);
        state_ = MachineState::kDead;
        romValid_ = false;
        usbDriverLoaded_ = false;
        lastBootWarm_ = false;
        bootsAnnounced_ = ++bootCount_;
        changed_.notify_all();
        return;
    }
    bool warm = ReadToken() == kWarmBootToken;
    if (warm) EnsureFolders();
    else PrepareColdStore();
    WriteToken(kWarmBootToken);
    bool usb = registry_.KeyExists(u"Drivers\\BuiltIn\\USB");
    uint32_t count;
    uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        rom_ = rom;
        romValid_ = true;
        usbDriverLoaded_ = usb;
        lastBootWarm_ = warm;
        count = ++bootCount_;
        modelQueryGarbageLeft_ = config_.faults.modelQueryGarbageCount;
        state_ = MachineState::kBooted;
        generation = ++generation_;
        changed_.notify_all();
    }
    // Waiters for this boot go on only once the link listeners have heard of it and the
    // shell has started the start-up programs.
    NotifyLink();
    RunStartupPrograms(count, generation);
    std::lock_guard lock(mutex_);
    bootsAnnounced_ = count;
    changed_.notify_all();
}

void MachineImpl::EnsureFolders() {
    store_.MakeFolders(u"\\Windows");
    store_.MakeFolders(StartupFolder());
    store_.MakeFolders(u"\\Temp");
}

void MachineImpl::PrepareColdStore() {
    store_.Wipe();
    registry_.ResetToRomDefaults();
    EnsureFolders();
    store_.WriteFile(StartupFolder() + u"\\poutlook.lnk", Bytes(kOutlookShortcut));
    store_.WriteFile(StartupFolder() + u"\\Welcome.lnk", Bytes(kWelcomeShortcut));
}

bool MachineImpl::ReadRomIdentity(RomIdentity* out) {
    auto bytes = board_->Flash().ReadArray(kImageFlashAddress - kFlashStart, sizeof(RomIdentity));
    std::memcpy(out, bytes.data(), sizeof(RomIdentity));
    if (!IsValidRomIdentity(*out)) return false;
    // A ROM made for the other configuration does not start on this board.
    return out->memoryConfig == Config().Addresses().memoryConfig;
}

void MachineImpl::WriteToken(uint32_t value) {
    const ModelAddresses& model = board_->Model();
    board_->Ram().Write(model.reservedRamPage - kRamUncachedBase + kReservedWordWarmBootToken,
                        value, 4);
}

uint32_t MachineImpl::ReadToken() const {
    const ModelAddresses& model = board_->Model();
    return board_->Ram().Read(model.reservedRamPage - kRamUncachedBase + kReservedWordWarmBootToken,
                              4);
}

}  // namespace tova
