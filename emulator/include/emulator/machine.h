// The emulated handheld: hardware board, Windows CE platform (object store, registry,
// identity, power), boot and reset, the shell that starts programs from the start-up
// folder, and the hooks the link server needs.
//
// One machine is "active" in a process at a time: the Windows CE API implementation
// (CreateFileW, KernelIoControl, HwWrite32 ...) acts on it. Creating or opening a machine
// makes it the active one; destroying it clears that. Tests create machines one after
// another.
//
// Threads: device code runs on threads that belong to one boot (start-up programs, calls
// made through RunDeviceCall). A reset or power cut starts a new boot generation; any
// platform call or hardware access from a thread of an older generation throws
// MachineHalted, which the trampolines catch. Device code never sees it: C++ unwinds
// through its frames.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "shared/configuration.h"
#include "emulator/state_error.h"

namespace tova {

namespace hw {
class Board;
class Bus;
class FlashModel;
class Ram;
class Gpio;
class Display;
class PageAllocator;
}  // namespace hw

class ObjectStore;
class Registry;

// Thrown into a device thread whose boot has ended (reset, power cut, shutdown). Caught by
// the machine's trampolines; never by device code.
struct MachineHalted {};

enum class Model { kAdvanced, kBasic };

using DeviceIdentifier = std::array<uint8_t, 16>;
// Ten bytes of serial followed by the six-byte identity pattern at offset 10.
DeviceIdentifier DefaultDeviceIdentifier();

struct RegistryValueRef {
    std::u16string key;   // below HKEY_LOCAL_MACHINE, e.g. u"Drivers\\BuiltIn\\USB"
    std::u16string name;  // value name
};

// Ways to make the handheld misbehave for tests. The flash model's own knobs are on
// Machine::Flash().
struct MachineFaults {
    // The model configuration query (selector 6954) answers garbage this many times
    // before it answers the configuration word.
    uint32_t modelQueryGarbageCount = 0;
    // The page allocator hands out pages out of physical order.
    bool ramFragmentation = false;
    // Values that RegDeleteValueW refuses to delete (ERROR_ACCESS_DENIED).
    std::vector<RegistryValueRef> undeletableRegistryValues;
    // IOCTL_HAL_REBOOT answers success and nothing happens: a handheld that never drops
    // its link after a warm restart request.
    bool rebootIgnored = false;
};

struct MachineConfig {
    Model model = Model::kAdvanced;
    bool acOnline = true;
    uint8_t batteryPercent = 100;  // 0-100, or 255 when the battery state is unknown
    uint16_t defaultLanguageId = 1033;  // language of the factory ROM
    DeviceIdentifier identifier = DefaultDeviceIdentifier();
    bool cableAttached = true;
    uint32_t bootDelayMs = 2000;  // nominal, on the scaled clock
    // Modules built for the handheld's CPU (ARM ELF) are loaded by the emulator's loader
    // and run on the emulated CPU; off, only host modules load.
    bool armModules = false;
    MachineFaults faults;

    const ModelAddresses& Addresses() const {
        return model == Model::kAdvanced ? kAdvancedModel : kBasicModel;
    }
};

enum class ResetKind {
    kResetLine,  // GPIO pin 21 driven low: the warm-boot token decides warm or cold
    kReboot,     // IOCTL_HAL_REBOOT: the token decides (intact after a normal boot: warm)
    kWarm,       // operator: keep the token, so the boot is warm
    kCold,       // operator: clear the token, so the boot is cold
};

enum class MachineState {
    kOff,        // never powered, shut down, or after a power cut
    kBooting,    // boot delay running
    kBooted,     // platform up, shell has started the start-up programs
    kDead,       // powered but no valid kernel in flash
    kResetting,  // between a reset request and the next boot
};

struct ShellLaunch {
    enum class Kind {
        kModule,       // loaded; FlasherMain called on its own thread
        kShortcut,     // .lnk: recorded only
        kNotRunnable,  // not loadable or no FlasherMain
    };
    std::u16string path;
    Kind kind;
    uint32_t bootCount;  // which boot started it
    std::string detail;  // why it could not run, when it could not
};

struct IoctlCall {
    uint32_t code;
    uint32_t selector;  // first input word, 0 when there was none
    bool succeeded;
};

struct PriorityChange {
    bool ce;  // CeSetThreadPriority rather than SetThreadPriority
    int priority;
};

// What a block-mode export answered, with its output copied out of the handheld's memory
// (the handheld's block released).
struct BlockModeAnswer {
    int32_t result = 0;            // HRESULT
    bool outputReadable = false;   // the export handed over a live LocalAlloc block
    std::vector<uint8_t> output;   // its bytes, when readable
};

// The exports of a module built for the handheld's CPU (MachineConfig::armModules). Each
// call runs on a CPU context of its own on the calling thread, which must be device code
// of the current boot (a boot that ends under it throws MachineHalted). A guest error ends
// the call with a register dump on the debug output; the handheld runs on.
class CpuExports {
public:
    virtual ~CpuExports() = default;
    virtual bool Has(const char* name) const = 0;
    // The block-mode call as the remote API service makes it: input in a LocalAlloc block
    // of the handheld, the output read and released. E_FAIL after a guest error.
    virtual BlockModeAnswer CallBlockMode(const char* name, const uint8_t* input, uint32_t count) = 0;
    // A start-up program's entry with null / 0 arguments; false after a guest error.
    virtual bool CallStartup(const char* name) = 0;
};

// A handheld module (HARLIX.DLL, Velkor.exe) of the object store: host code loaded as the
// build's own file of that name (see SetHostModuleFolder; closed with dlclose when
// destroyed), or an ARM module placed in guest RAM for the handheld's CPU (Cpu()).
class LoadedModule {
public:
    virtual ~LoadedModule() = default;
    // The exported symbol of a host module, or null (always null for a module that runs on
    // the handheld's CPU).
    virtual void* Symbol(const char* name) const = 0;
    template <typename Fn>
    Fn Function(const char* name) const {
        return reinterpret_cast<Fn>(Symbol(name));
    }
    // The exports of a module for the handheld's CPU; null for host code.
    virtual CpuExports* Cpu() { return nullptr; }
};

// Entry of a start-up program. Its arguments are passed null / 0.
using StartupEntry = int (*)(void* instance, void* previous, char16_t* commandLine, int show);
inline constexpr char kStartupEntryName[] = "FlasherMain";

class Machine {
public:
    // Creates a handheld in `stateFolder` (created if absent; must not already hold a
    // handheld). `flashImage` is the flash content from 0xA0040000 (at most 0x19C0000 bytes;
    // the rest of flash is erased). Does not power it on. Throws StateError.
    static std::unique_ptr<Machine> Create(const std::filesystem::path& stateFolder,
                                           const MachineConfig& config,
                                           const std::vector<uint8_t>& flashImage);
    // Opens a handheld created earlier. Throws StateError when anything is missing or corrupt.
    static std::unique_ptr<Machine> Open(const std::filesystem::path& stateFolder);
    // The machine the Windows CE API acts on, or null.
    static Machine* Active();

    virtual ~Machine() = default;
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // Writes configuration, flash, registry and the boot token state to the state folder.
    virtual void Save() = 0;
    virtual const std::filesystem::path& StateFolder() const = 0;
    virtual MachineConfig Config() const = 0;

    // ---- Power and boot ------------------------------------------------------------
    // Powers on; the boot runs on the machine thread after the boot delay. Whether it is
    // warm or cold follows the token kept by the last Shutdown (a handheld switched off
    // keeps its battery-backed RAM) and is cold after a power cut or on first power-on.
    // The first power-on of this Machine marks the RAM in the state folder as lost until
    // the next Save (a process killed meanwhile leaves a handheld that boots cold) and
    // moves the flash into its file; a folder it cannot write throws StateError.
    virtual void PowerOn() = 0;
    // PowerOn and wait until booted or dead. Returns Booted().
    virtual bool Boot() = 0;
    // Asks for a reset; returns at once. The reset runs on the machine thread, drops the
    // link immediately, and boots again after the boot delay.
    virtual void RequestReset(ResetKind kind) = 0;
    // Cuts power: device threads halted, RAM lost, flash keeps what it holds. The next
    // PowerOn is a cold boot.
    virtual void PowerCut() = 0;
    // Orderly stop: halts device threads, keeps the RAM (token, object store) and saves.
    virtual void Shutdown() = 0;

    virtual MachineState State() const = 0;
    virtual bool Booted() const = 0;
    virtual bool Dead() const = 0;
    virtual uint32_t BootCount() const = 0;
    virtual bool LastBootWarm() const = 0;
    // Build, language and version text from the ROM identity record of the running boot.
    virtual uint32_t RomBuild() const = 0;
    virtual uint16_t RomLanguageId() const = 0;
    virtual std::u16string RomVersionText() const = 0;

    // Waits (nominal milliseconds on the scaled clock) until booted, until the boot count
    // reaches `count` with the machine booted or dead, or until every start-up program
    // thread has ended. Return false on timeout.
    virtual bool WaitUntilBooted(uint64_t timeoutMs) = 0;
    virtual bool WaitUntilBootCount(uint32_t count, uint64_t timeoutMs) = 0;
    virtual bool WaitUntilProgramsDone(uint64_t timeoutMs) = 0;
    virtual bool WaitUntilState(MachineState state, uint64_t timeoutMs) = 0;
    // Timeouts never shrink below 10 s of real time (at scale 0 they would expire before
    // the machine thread ran); a timeout of 0 only looks.

    // ---- Hardware ------------------------------------------------------------------
    virtual hw::Board& Board() = 0;
    virtual hw::Bus& Bus() = 0;
    virtual hw::FlashModel& Flash() = 0;
    virtual hw::Ram& Ram() = 0;
    virtual hw::Gpio& Gpio() = 0;
    virtual hw::Display& Display() = 0;
    virtual hw::PageAllocator& Pages() = 0;
    virtual bool InterruptsMasked() const = 0;
    // Sleep calls made after interrupts were masked (the boot that masked them).
    virtual uint32_t SleepViolations() const = 0;
    // What device code asked each Sleep for (nominal ms), in order: the first 4096 calls.
    virtual std::vector<uint32_t> Sleeps() const = 0;
    // Flash fault knobs as text, e.g. ("busy-before", "1 10"); they persist with Save.
    // Knobs: busy-before CHIP POLLS|forever, busy-during CHIP POLLS|forever,
    // fail-erase CHIP BLOCK [TIMES], fail-program CHIP OFFSET [TIMES],
    // stuck-bits CHIP OFFSET LOW HIGH, lock-block CHIP BLOCK,
    // buffer-unavailable CHIP REQUESTS, power-cut-after OPERATIONS, clear.
    // false with the reason for an unknown knob or bad arguments.
    virtual bool ApplyFlashFault(const std::string& knob, const std::string& args,
                                 std::string* error) = 0;

    // ---- Platform ------------------------------------------------------------------
    virtual ObjectStore& Store() = 0;
    virtual Registry& Reg() = 0;
    virtual std::vector<std::u16string> DebugLines() const = 0;  // NKDbgPrintfW, one per call
    virtual std::vector<ShellLaunch> ShellLaunches() const = 0;
    virtual std::vector<IoctlCall> IoctlLog() const = 0;
    virtual std::vector<PriorityChange> PriorityChanges() const = 0;
    // LocalAlloc blocks not yet released with LocalFree.
    virtual size_t OutstandingLocalAllocations() const = 0;
    virtual bool IsLiveLocalAllocation(const void* block) const = 0;

    // Identity and power, settable while running.
    virtual void SetAcOnline(bool online) = 0;
    virtual void SetBatteryPercent(uint8_t percent) = 0;
    virtual void SetIdentifier(const DeviceIdentifier& id) = 0;
    virtual void SetFaults(const MachineFaults& faults) = 0;
    virtual void SetBootDelayMs(uint32_t ms) = 0;
    // Writes or clears the warm-boot token in the reserved RAM page: what the next boot
    // after a reset (or the next power-on of a handheld switched off) will be.
    virtual void SetWarmBootToken(bool intact) = 0;

    // ---- Link ----------------------------------------------------------------------
    // Booted, cable attached, HKLM\Drivers\BuiltIn\USB exists, not resetting.
    virtual bool LinkUp() const = 0;
    virtual void SetCable(bool attached) = 0;
    virtual bool CableAttached() const = 0;
    // Called with the new LinkUp() whenever it may have changed (boot done, reset begun,
    // power cut, cable). A drop is reported before the reset goes on, so the link server
    // can close every connection at once. Listeners must not call back into Subscribe.
    using LinkListener = std::function<void(bool up)>;
    virtual int SubscribeLinkState(LinkListener listener) = 0;
    virtual void UnsubscribeLinkState(int subscription) = 0;
    static std::u16string StartupFolder() { return u"\\Windows\\StartUp"; }

    // The handheld's modules are host code until its CPU runs them, and host code is never
    // taken from the store, which anyone on the link may write. With a host module folder
    // set (`tova-emu run --host-modules`: the folder of the build's programs), a module in
    // the store runs only when that folder holds a module (.dll or .exe) of the same name
    // whose bytes the store file matches exactly; the folder's file is what is loaded.
    // Without one (the default) no host module runs. Not saved with the handheld: it is how
    // the emulator was started, not a property of the handheld. A module built for the
    // handheld's CPU (ARM) runs there when MachineConfig::armModules is on, whatever the
    // folder: inside guest memory a file of the store can do no harm to the host.
    virtual void SetHostModuleFolder(const std::filesystem::path& folder) = 0;
    virtual std::filesystem::path HostModuleFolder() const = 0;
    // Loads a module of the object store (\Windows\<name>.DLL for LoadLibraryModule) as
    // above. Null, with the reason in `error`, when the file is absent, not loadable or
    // not the build's own module; the reason is also a debug line, and a module refused as
    // host code is said on standard error.
    virtual std::unique_ptr<LoadedModule> LoadModule(std::u16string_view handheldPath,
                                                     std::string* error) = 0;
    virtual std::unique_ptr<LoadedModule> LoadLibraryModule(std::u16string_view name,
                                                            std::string* error) = 0;
    // Runs `call` as device code of the current boot on this thread. Returns false when the
    // boot ended during the call (the call was cut short) or the machine is not booted.
    virtual bool RunDeviceCall(const std::function<void()>& call) = 0;

protected:
    Machine() = default;
};

}  // namespace tova
