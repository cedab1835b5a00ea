#include "emulated_handheld.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "platform/clock/clock.h"
#include "shared/service_names.h"
#include "emulator/object_store.h"
#include "platform/wince/api.h"

namespace harlix_test {

std::filesystem::path BuiltModulePath() {
    const char* dir = std::getenv("TOVA_BIN_DIR");
    return dir ? std::filesystem::path(dir) / "host" / "HARLIX.DLL" : std::filesystem::path(HARLIX_MODULE_FILE);
}

static std::filesystem::path FreshFolder() {
    static std::atomic<int> counter{0};
    auto folder = std::filesystem::temp_directory_path() /
                  ("harlix-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(folder);
    return folder;
}

std::vector<uint8_t> EmulatedHandheld::FlashImageFor(const tova::MachineConfig& config,
                                                      const RomFacts& rom) {
    RomIdentity record{};
    std::memcpy(record.magic, kRomIdentityMagic, sizeof record.magic);
    record.build = rom.build;
    record.languageId = rom.languageId;
    record.memoryConfig = config.Addresses().memoryConfig;
    std::memcpy(record.versionText, rom.versionText.data(),
                std::min<size_t>(rom.versionText.size(), 16) * sizeof(char16_t));
    record.check = RomIdentityCheck(record);
    // The kernel segment begins the image; the rest of flash stays erased.
    std::vector<uint8_t> image(sizeof record);
    std::memcpy(image.data(), &record, sizeof record);
    return image;
}

std::vector<uint8_t> EmulatedHandheld::AllInput() {
    std::vector<uint8_t> bytes(kInvokeInputBytes);
    std::memcpy(bytes.data(), kInvokeInput, kInvokeInputBytes);
    return bytes;
}

EmulatedHandheld::EmulatedHandheld(tova::MachineConfig config, RomFacts rom)
    : folder_(FreshFolder()) {
    tova::SetTimeScale(0.01);
    config.bootDelayMs = 10;
    machine_ = tova::Machine::Create(folder_, config, FlashImageFor(config, rom));
    machine_->SetHostModuleFolder(BuiltModulePath().parent_path());
    watchdog_ = std::make_unique<tova::testing::HandheldWatchdog>(*machine_, kServiceBudget);
    if (!machine_->Boot()) {
        ADD_FAILURE() << "the emulated handheld did not boot";
        return;
    }
    ready_ = InstallModule();
}

EmulatedHandheld::~EmulatedHandheld() {
    watchdog_.reset();
    machine_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

bool EmulatedHandheld::InstallModule() {
    std::ifstream in(BuiltModulePath(), std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    if (bytes.empty()) {
        ADD_FAILURE() << "no module at " << BuiltModulePath();
        return false;
    }
    std::u16string path = u"\\Windows\\";
    path += kServiceLibraryFile;
    if (!machine_->Store().WriteFile(path, bytes)) {
        ADD_FAILURE() << "could not place the module in \\Windows";
        return false;
    }
    return true;
}

bool EmulatedHandheld::RunOnDevice(const std::function<void()>& call) {
    return machine_->RunDeviceCall(call);
}

InvokeResult EmulatedHandheld::Invoke(const char* exportName, std::vector<uint8_t> input) {
    InvokeResult result;
    std::string error;
    auto module = machine_->LoadLibraryModule(kServiceLibraryName, &error);
    if (!module) {
        ADD_FAILURE() << "HARLIX.DLL did not load: " << error;
        return result;
    }
    auto entry = module->Function<PFN_RAPI_EXTENSION>(exportName);
    if (!entry) {
        ADD_FAILURE() << "no export " << exportName;
        return result;
    }
    // Sentinels show whether the export touched its output parameters.
    BYTE sentinel = 0;
    DWORD cbOutput = 0xDEADBEEF;
    BYTE* output = &sentinel;
    // The input block sits in a heap block of its exact size so that a read past it shows.
    std::unique_ptr<BYTE[]> block(new BYTE[input.size() ? input.size() : 1]);
    if (!input.empty()) std::memcpy(block.get(), input.data(), input.size());
    result.completed = machine_->RunDeviceCall([&] {
        result.hr = entry(DWORD(input.size()), input.empty() ? nullptr : block.get(), &cbOutput,
                          &output, nullptr);
    });
    result.outputSet = output != &sentinel || cbOutput != 0xDEADBEEF;
    if (output != &sentinel && output != nullptr) {
        result.outputWasLiveLocal = machine_->IsLiveLocalAllocation(output);
        result.cbOutput = cbOutput;
        result.output.assign(output, output + cbOutput);
        machine_->RunDeviceCall([&] { LocalFree(output); });
    }
    return result;
}

InvokeResult EmulatedHandheld::InvokeWithAll(const char* exportName) {
    return Invoke(exportName, AllInput());
}

}  // namespace harlix_test
