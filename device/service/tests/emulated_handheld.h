// A handheld emulated in this process with HARLIX.DLL installed in its \Windows folder, and
// the library's exports called the way the handheld's RAPI service calls them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "handheld_watchdog.h"
#include "shared/rom_identity.h"
#include "emulator/machine.h"
#include "platform/wince/types.h"

namespace harlix_test {

struct RomFacts {
    uint32_t build = 0x20240526;
    uint16_t languageId = 1033;
    std::u16string versionText = u"1.05.26";  // up to 16 units, the ROM record's field
};

// The output of one block-mode call.
struct InvokeResult {
    HRESULT hr = 0;
    bool outputSet = false;          // the export wrote *ppOutput
    bool outputWasLiveLocal = false;  // ... and it was a live LocalAlloc block
    DWORD cbOutput = 0;
    std::vector<uint8_t> output;     // the cbOutput bytes it reported
    bool completed = false;          // the call returned within its boot
};

class EmulatedHandheld {
public:
    // Powers on a fresh handheld and installs the built module. Fails the calling test
    // (ASSERT-style, check Ready()) when any step does not work. A call that never returns
    // (a model detection that never settles keeps asking) is cut off by the handheld's
    // watchdog, which fails the test.
    EmulatedHandheld(tova::MachineConfig config, RomFacts rom = {});
    ~EmulatedHandheld();

    bool Ready() const { return ready_; }
    tova::Machine& Machine() { return *machine_; }

    // Calls an export of \Windows\HARLIX.DLL as device code, releasing its output with
    // LocalFree afterwards as the RAPI service does.
    InvokeResult Invoke(const char* exportName, std::vector<uint8_t> input);
    InvokeResult InvokeWithAll(const char* exportName);

    // Runs inner library code as device code of the current boot.
    bool RunOnDevice(const std::function<void()>& call);

    // Copies the built module into \Windows again (a cold boot wipes the object store).
    bool InstallModule();

    static std::vector<uint8_t> FlashImageFor(const tova::MachineConfig& config,
                                              const RomFacts& rom);
    static std::vector<uint8_t> AllInput();  // "ALL" and its NUL in UTF-16LE

private:
    std::filesystem::path folder_;
    std::unique_ptr<tova::Machine> machine_;
    std::unique_ptr<tova::testing::HandheldWatchdog> watchdog_;
    bool ready_ = false;
};

// Nominal milliseconds to wait for a boot; the tests run the clock fast.
inline constexpr uint64_t kBootWaitMs = 600000;
// A handheld's whole life in a test takes a few nominal seconds; ten minutes is a call
// that never returns.
inline constexpr tova::testing::WatchdogBudget kServiceBudget{.nominalLimitMs = 600000};

std::filesystem::path BuiltModulePath();

}  // namespace harlix_test
