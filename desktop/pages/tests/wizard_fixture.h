// Wizard tests run against a handheld emulated in this process: a tova::Machine reached over
// its real link server on a loopback port, the real link monitor driving g_bConnected, the
// built HARLIX.DLL and packages in a program folder of the test's own, and the pages on the
// headless dialog host.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "handheld_link_fixture.h"
#include "handheld_watchdog.h"
#include "emulator/link/link_server.h"
#include "emulator/machine.h"
#include "platform/ui/driver.h"
#include "platform/ui/headless_host.h"
#include "wizard_app.h"

namespace wizard_test {

inline constexpr double kTimeScale = 0.01;

// What the emulated handheld is and says about itself.
struct HandheldSpec {
    bool advanced = true;
    bool acOnline = true;
    uint8_t batteryPercent = 100;
    uint16_t languageId = 1033;
    uint32_t romBuild = 0x03280301;
    std::u16string versionText = u"4.20.A04";
    bool recognised = true;  // identifier ends in the library's identity pattern
    bool cableAttached = true;
};

// A package as the program folder holds it.
struct PackageSpec {
    bool advanced = true;
    const char* buildDigits = "03280401";  // newer than HandheldSpec's default ROM
    const char* language = "EN";
};

// Plays the user with test-supplied decisions.
class LambdaDriver : public ui::Driver {
public:
    std::function<ui::UserAction(const ui::DialogState&)> onIdle;
    std::function<uint64_t(const ui::MessageBoxInfo&)> onBox;

    ui::UserAction OnPageIdle(const ui::DialogState& page) override {
        return onIdle ? onIdle(page) : ui::UserAction::None();
    }
    uint64_t OnMessageBox(const ui::MessageBoxInfo& box) override { return onBox ? onBox(box) : 0; }
};

// Polls on the scaled clock until `done` holds or `nominalMs` have passed.
bool WaitFor(const std::function<bool()>& done, uint64_t nominalMs);

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates, boots and links up the handheld (its server on a free port, the desktop's
    // endpoint pointing at it). Fails the test when it does not boot.
    void StartHandheld(const HandheldSpec& spec = {});
    // As the start-up does after creating g_csRapi (which SetUp does): StartLink and the
    // watchdog; then waits for the link.
    void StartLinkMonitor();
    // Runs the whole start-up routine on a headless host driven by `driver`; the fixture
    // hands g_csRapi over to it and joins its watchdog at the end.
    void RunWizard(ui::Driver& driver);

    // Program folder contents.
    void PutHeaderOnlyPackage(const PackageSpec& spec = {});
    void PutFullPackage(const PackageSpec& spec = {}, bool corruptSegment = false);
    void RemoveProgramFile(const std::string& name);
    // "License.txt" in the current directory (a folder of the test's own).
    void PutAgreement(const std::string& text);

    // Copies the built service library into the handheld's \Windows, as the welcome page
    // would have done.
    void InstallServiceLibrary();

    tova::Machine& Machine() { return *machine_; }
    tova::link::LinkServer& Server() { return *server_; }
    std::filesystem::path ProgramFolder() const { return programFolder_; }
    std::filesystem::path WorkFolder() const { return workFolder_; }
    bool HandheldHas(std::u16string_view path);

    // Pages with no worker behind them: every thread a page starts from now on ends at once
    // having done nothing, so the page's messages come from the test alone.
    void WithoutWorker();

    // A headless host for `driver` in host_.
    void MakeHost(ui::Driver& driver);
    // Runs one page modally on a headless host driven by `driver`.
    int RunPage(ui::Page& page, ui::Driver& driver);
    std::unique_ptr<ui::HeadlessUiHost> host_;

private:
    std::filesystem::path root_;
    std::filesystem::path programFolder_;
    std::filesystem::path workFolder_;
    std::filesystem::path previousDirectory_;
    std::unique_ptr<tova::Machine> machine_;
    std::unique_ptr<tova::testing::HandheldWatchdog> handheldGuard_;
    std::unique_ptr<tova::link::LinkServer> server_;
    std::thread watchdog_;
    bool monitorStarted_ = false;
};

// A host module of this build (the pages' handhelds run host code): from TOVA_BIN_DIR/host
// when set, else where it was built.
std::filesystem::path BuiltModule(const char* fileName, const char* builtPath);
using transfer_testing::ReadHostFile;
using transfer_testing::WriteHostFile;

}  // namespace wizard_test
