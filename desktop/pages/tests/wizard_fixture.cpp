#include "wizard_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "desktop/device/link.h"
#include "link_testing.h"
#include "desktop/device/model_flag.h"
#include "desktop/device/program_folder.h"
#include "format/rom_package_key.h"
#include "desktop/device/transfer.h"
#include "desktop/pages/device_flags.h"
#include "desktop/pages/update_worker.h"
#include "desktop/pages/update_worker_testing.h"
#include "platform/clock/clock.h"
#include "platform/rapi/rapi.h"
#include "tools/romimage/rom_image.h"
#include "shared/configuration.h"
#include "shared/device_identity.h"
#include "shared/rom_identity.h"
#include "emulator/object_store.h"

namespace wizard_test {

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kBootWaitMs = 600000;
constexpr uint64_t kLinkWaitMs = 600000;
constexpr uint64_t kWorkerDrainMs = 600000;

std::vector<uint8_t> RomFor(const HandheldSpec& spec) {
    RomIdentity identity{};
    std::memcpy(identity.magic, kRomIdentityMagic, sizeof identity.magic);
    identity.build = spec.romBuild;
    identity.languageId = spec.languageId;
    identity.memoryConfig = spec.advanced ? kMemoryConfigAdvanced : kMemoryConfigBasic;
    std::copy_n(spec.versionText.begin(), std::min<size_t>(spec.versionText.size(), 16),
                identity.versionText);
    identity.check = RomIdentityCheck(identity);
    std::vector<uint8_t> image(sizeof identity);
    std::memcpy(image.data(), &identity, sizeof identity);
    return image;
}

romimage::RomSpec RomSpecFor(const PackageSpec& spec) {
    romimage::RomSpec rom;
    rom.advanced = spec.advanced;
    std::memcpy(rom.buildDigits, spec.buildDigits, 9);
    std::memcpy(rom.language, spec.language, 3);
    rom.versionText = u"4.20.A05";
    return rom;
}

// Whole packages take a moment to build; tests share them.
const std::vector<uint8_t>& CachedPackage(const PackageSpec& spec) {
    static std::mutex mutex;
    static std::map<std::string, std::vector<uint8_t>> cache;
    std::string key = std::string(spec.advanced ? "H" : "L") + spec.buildDigits + spec.language;
    std::lock_guard lock(mutex);
    auto it = cache.find(key);
    if (it == cache.end()) it = cache.emplace(key, romimage::BuildPackage(RomSpecFor(spec))).first;
    return it->second;
}

}  // namespace

bool WaitFor(const std::function<bool()>& done, uint64_t nominalMs) {
    uint64_t deadline = tova::NominalNowMs() + nominalMs;
    while (!done()) {
        if (tova::NominalNowMs() > deadline) return false;
        tova::ScaledSleep(10);
    }
    return true;
}

fs::path BuiltModule(const char* fileName, const char* builtPath) {
    const char* dir = std::getenv("TOVA_BIN_DIR");
    if (dir && fs::exists(fs::path(dir) / "host" / fileName)) return fs::path(dir) / "host" / fileName;
    return fs::path(builtPath);
}

void WizardTest::SetUp() {
    tova::SetTimeScale(kTimeScale);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    root_ = fs::temp_directory_path() / ("tova-wizard-" + std::to_string(::getpid()) + "-" + name);
    fs::remove_all(root_);
    programFolder_ = root_ / "program";
    workFolder_ = root_ / "work";
    fs::create_directories(programFolder_);
    fs::create_directories(workFolder_);

    // The program folder holds the companion files as an installed setup has them.
    fs::copy_file(BuiltModule(kServiceLibraryFileName, HARLIX_MODULE_FILE),
                  programFolder_ / kServiceLibraryFileName);
    fs::copy_file(BuiltModule(kFlasherFileName, VELKOR_MODULE_FILE), programFolder_ / kFlasherFileName);
    transfer_testing::UseProgramPath((programFolder_ / "setup").string());

    previousDirectory_ = fs::current_path();
    fs::current_path(workFolder_);
    // Created first, as the start-up creates it before anything can take it.
    win32::InitializeCriticalSection(&g_csRapi);
}

void WizardTest::WithoutWorker() {
    update_worker_testing::SetThreadProcedure([](std::shared_ptr<UpdateWorkerContext>) { return 0; });
}

void WizardTest::TearDown() {
    if (watchdog_.joinable()) {
        link_testing::StopWatchdog();
        watchdog_.join();
    }
    if (monitorStarted_) {
        QuiesceLinkWatchdog();
        StopLink();
    }
    EXPECT_TRUE(WaitForUpdateWorkers(kWorkerDrainMs)) << "an update worker never ended";
    link_testing::Reset();
    if (g_csRapi.impl.load() != nullptr) win32::DeleteCriticalSection(&g_csRapi);
    update_worker_testing::SetStepHook(nullptr);
    update_worker_testing::SetThreadCreationFails(false);
    update_worker_testing::SetThreadProcedure(nullptr);
    host_.reset();

    if (server_) server_->Stop();
    server_.reset();
    handheldGuard_.reset();
    machine_.reset();
    rapi::SetEndpoint("");
    SetProgramPathReader(nullptr);
    g_bRefuse = 0;
    g_bLanguageMismatch = 0;
    g_bSameVersion = 0;
    g_bAdvancedModel = 0;

    fs::current_path(previousDirectory_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
    tova::SetTimeScale(1.0);
}

void WizardTest::StartHandheld(const HandheldSpec& spec) {
    tova::MachineConfig config;
    config.model = spec.advanced ? tova::Model::kAdvanced : tova::Model::kBasic;
    config.acOnline = spec.acOnline;
    config.batteryPercent = spec.batteryPercent;
    config.defaultLanguageId = spec.languageId;
    config.cableAttached = spec.cableAttached;
    config.bootDelayMs = 500;
    if (!spec.recognised) config.identifier[15] ^= 0xFF;
    machine_ = tova::Machine::Create(root_ / "handheld", config, RomFor(spec));
    // The handheld runs the modules that setup's program folder holds copies of.
    machine_->SetHostModuleFolder(BuiltModule(kServiceLibraryFileName, HARLIX_MODULE_FILE).parent_path());
    ASSERT_TRUE(machine_->Boot()) << "the emulated handheld did not boot";
    // The flasher retries a flash fault for ever, as it must: past the budget the handheld
    // loses power and the test fails with the reason instead of hanging.
    tova::testing::WatchdogBudget budget;
    budget.erasesOfOneBlock = 16;
    handheldGuard_ = std::make_unique<tova::testing::HandheldWatchdog>(*machine_, budget);
    server_ = std::make_unique<tova::link::LinkServer>(*machine_, 0);
    rapi::SetEndpoint("127.0.0.1:" + std::to_string(server_->Port()));
}

void WizardTest::StartLinkMonitor() {
    monitorStarted_ = true;
    ASSERT_EQ(StartLink(), S_OK);
    watchdog_ = std::thread(LinkWatchdogThread);
    ASSERT_TRUE(WaitFor([] { return g_bConnected.load() == 1; }, kLinkWaitMs))
        << "the link never came up";
}

void WizardTest::RunWizard(ui::Driver& driver) {
    win32::DeleteCriticalSection(&g_csRapi);
    // The sync software has connected a handheld in its cradle before the user starts the
    // wizard: the start-up's own connection start then finds the session open, and its
    // one-second check (ten real milliseconds here) does not race a loaded machine.
    if (machine_ && machine_->LinkUp()) CeRapiInit();
    MakeHost(driver);
    WizardApp app(*host_, [this] {
        watchdog_ = std::thread(LinkWatchdogThread);
        return true;
    });
    EXPECT_FALSE(app.RunWizard());
}

void WizardTest::PutHeaderOnlyPackage(const PackageSpec& spec) {
    romimage::RomSpec rom = RomSpecFor(spec);
    uint8_t header[kRomPackageHeaderBytes];
    romimage::MakePlainHeader(rom, header);
    DescrambleHeader(header, MakeRomPackageKey());  // scrambling is the same operation
    std::vector<uint8_t> bytes(512, 0);
    std::memcpy(bytes.data(), header, sizeof header);
    WriteHostFile(programFolder_ / romimage::PackageFileName(rom), bytes);
}

void WizardTest::PutFullPackage(const PackageSpec& spec, bool corruptSegment) {
    std::vector<uint8_t> bytes = CachedPackage(spec);
    // A byte of the OS segment changed: its checksum no longer matches the table.
    if (corruptSegment) bytes[512 + 0x280000 + 4096] ^= 0x5A;
    WriteHostFile(programFolder_ / romimage::PackageFileName(RomSpecFor(spec)), bytes);
}

void WizardTest::RemoveProgramFile(const std::string& name) { fs::remove(programFolder_ / name); }

void WizardTest::PutAgreement(const std::string& text) {
    WriteHostFile(workFolder_ / "License.txt", std::vector<uint8_t>(text.begin(), text.end()));
}

void WizardTest::InstallServiceLibrary() {
    ASSERT_TRUE(machine_->Store().WriteFile(u"\\Windows\\HARLIX.DLL", ReadHostFile(BuiltModule(kServiceLibraryFileName, HARLIX_MODULE_FILE))));
}

bool WizardTest::HandheldHas(std::u16string_view path) { return machine_->Store().Exists(path); }

void WizardTest::MakeHost(ui::Driver& driver) {
    host_ = std::make_unique<ui::HeadlessUiHost>(driver);
    // For following a test as it runs.
    if (std::getenv("WIZARD_TEST_ECHO")) host_->GetTranscript().EchoTo(stderr);
}

int WizardTest::RunPage(ui::Page& page, ui::Driver& driver) {
    MakeHost(driver);
    return host_->RunPage(page);
}

}  // namespace wizard_test
