// The welcome, refusal, agreement, caution and about pages against an emulated handheld.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "desktop/device/link.h"
#include "desktop/device/model_flag.h"
#include "desktop/device/transfer.h"
#include "desktop/pages/agreement_page.h"
#include "desktop/pages/caution_page.h"
#include "desktop/pages/device_flags.h"
#include "desktop/pages/refusal_page.h"
#include "desktop/pages/welcome_page.h"
#include "platform/clock/clock.h"
#include "platform/ui/resources.h"
#include "platform/ui/string_table.h"
#include "wizard_fixture.h"

namespace wizard_test {
namespace {

using ui::DialogState;
using ui::UserAction;

std::string Strings(std::initializer_list<int> ids) {
    std::string text;
    for (int id : ids) text += ui::LoadString(id);
    return text;
}

// Parameterised tests are named after their case.
struct CaseName {
    template <typename Info>
    std::string operator()(const Info& info) const {
        return info.param.name;
    }
};

// A user who takes one action on one page and nothing else.
struct OneActionDriver : ui::ScriptedDriver {
    OneActionDriver(int templateId, UserAction action) {
        SetUnattendedFallback(false);
        Then(templateId, action);
    }
};

// ---- Welcome ---------------------------------------------------------------------------

struct WelcomeCase {
    const char* name;
    bool advanced;
    bool libraryPresent;
    int modelBefore;
    int modelAfter;
};

const WelcomeCase kWelcome[] = {
    {"AdvancedHandheld", true, true, 0, 1},
    {"BasicHandheld", false, true, 1, 0},
    // The copy fails: the model keeps whatever it was.
    {"LibraryMissingKeepsModel", true, false, 0, 0},
    {"LibraryMissingKeepsAdvanced", false, false, 1, 1},
};

class WelcomeCases : public WizardTest, public ::testing::WithParamInterface<WelcomeCase> {};

TEST_P(WelcomeCases, CopiesTheLibraryAndSetsTheModel) {
    const WelcomeCase& c = GetParam();
    HandheldSpec spec;
    spec.advanced = c.advanced;
    StartHandheld(spec);
    StartLinkMonitor();
    if (!c.libraryPresent) RemoveProgramFile(kServiceLibraryFileName);
    g_bAdvancedModel = c.modelBefore;

    ui::ScriptedDriver driver;  // presses Next
    WelcomePage page;
    EXPECT_EQ(RunPage(page, driver), ui::IDOK);
    EXPECT_EQ(g_bAdvancedModel.load(), c.modelAfter);
    EXPECT_EQ(HandheldHas(u"\\Windows\\HARLIX.DLL"), c.libraryPresent);
    EXPECT_TRUE(host_->GetTranscript().MessageBoxes().empty()) << "failures here are silent";
}

INSTANTIATE_TEST_SUITE_P(Handhelds, WelcomeCases, ::testing::ValuesIn(kWelcome), CaseName());

TEST_F(WizardTest, WelcomeExitLeavesTheLibraryOnTheHandheld) {
    StartHandheld();
    StartLinkMonitor();
    ui::ScriptedDriver driver;
    driver.Then(ui::IDD_WELCOME, UserAction::Press(ui::IDCANCEL));
    WelcomePage page;
    EXPECT_EQ(RunPage(page, driver), ui::IDCANCEL);
    EXPECT_TRUE(HandheldHas(u"\\Windows\\HARLIX.DLL"));
}

// The about item is command 16; every command from 16 to 31 opens the about box, a new
// one each time. Other commands get the default handling (the close command ends the page
// as Exit does, although the frame shows no close box).
TEST_F(WizardTest, WelcomeWindowMenuCommands) {
    WelcomePage page;  // no handheld: the set-up fails silently
    int step = 0;
    LambdaDriver driver;
    driver.onIdle = [&](const DialogState& state) {
        if (state.templateId == ui::IDD_ABOUTBOX) return UserAction::Press(ui::IDOK);
        switch (step++) {
        case 0: return UserAction::SysCommand(ui::CMD_ABOUT);
        case 1: page.Dispatch(ui::WM_SYSCOMMAND, ui::CMD_ABOUT + 15, 0); return UserAction::Wait(10);
        case 2: page.Dispatch(ui::WM_SYSCOMMAND, ui::CMD_ABOUT + 16, 0); return UserAction::Wait(10);
        case 3: page.Dispatch(ui::WM_SYSCOMMAND, ui::CMD_ABOUT - 1, 0); return UserAction::Wait(10);
        default: page.Dispatch(ui::WM_SYSCOMMAND, ui::SC_CLOSE, 0); return UserAction::Wait(10);
        }
    };
    EXPECT_EQ(RunPage(page, driver), ui::IDCANCEL);
    EXPECT_EQ(host_->GetTranscript().PagesOpened(),
              (std::vector<int>{ui::IDD_WELCOME, ui::IDD_ABOUTBOX, ui::IDD_ABOUTBOX}));
    std::optional<DialogState> state = host_->LastState(ui::IDD_WELCOME);
    ASSERT_TRUE(state);
    ASSERT_TRUE(state->HasMenuCommand(ui::CMD_ABOUT));
    EXPECT_EQ(state->windowMenu.back().text, "&About Oberix...");
    EXPECT_EQ(state->windowMenu.front().id, 0u) << "a separator before the item";
    EXPECT_EQ(state->iconId, ui::IDR_MAINFRAME);
}

// ---- Refusal ---------------------------------------------------------------------------

struct RefusalCase {
    const char* name;
    bool acOnline;
    uint8_t battery;
    bool recognised;
    int mismatch;
    int sameVersion;
    std::string expected;
};

const RefusalCase kRefusal[] = {
    {"NoAc", false, 100, true, 0, 0, Strings({ui::IDS_REASON_AC})},
    {"Battery39", true, 39, true, 0, 0, Strings({ui::IDS_REASON_BATTERY})},
    {"Battery40", true, 40, true, 0, 0, ""},
    {"BatteryUnknownToPlatform", true, 255, true, 0, 0, ""},
    {"NoAcAndLowBattery", false, 10, true, 0, 0,
     Strings({ui::IDS_REASON_AC, ui::IDS_REASON_BATTERY})},
    // An unrecognised handheld: AC 0 and battery 0xFFFFFFFF, which passes.
    {"UnrecognisedHandheld", true, 100, false, 0, 0, Strings({ui::IDS_REASON_AC})},
    {"LanguageMismatch", true, 100, true, 1, 0, Strings({ui::IDS_REASON_LANGUAGE})},
    {"SameVersion", true, 100, true, 0, 1, Strings({ui::IDS_REASON_SAME_VERSION})},
    {"LanguageHidesSameVersion", true, 100, true, 1, 1, Strings({ui::IDS_REASON_LANGUAGE})},
    {"Everything", false, 0, true, 0, 1,
     Strings({ui::IDS_REASON_AC, ui::IDS_REASON_BATTERY, ui::IDS_REASON_SAME_VERSION})},
};

class RefusalTest : public WizardTest {
protected:
    // Runs the refusal page to its end, the user pressing OK, and returns how it last looked.
    std::optional<DialogState> RunRefusalPage() {
        ui::ScriptedDriver driver;
        RefusalPage page;
        EXPECT_EQ(RunPage(page, driver), ui::IDCANCEL);
        return host_->LastState(ui::IDD_REFUSAL);
    }
};

class RefusalCases : public RefusalTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalCases, ListsTheReasonsThatHoldNow) {
    const RefusalCase& c = GetParam();
    HandheldSpec spec;
    spec.acOnline = c.acOnline;
    spec.batteryPercent = c.battery;
    spec.recognised = c.recognised;
    StartHandheld(spec);
    StartLinkMonitor();
    InstallServiceLibrary();
    g_bRefuse = 1;
    g_bLanguageMismatch = c.mismatch;
    g_bSameVersion = c.sameVersion;

    std::optional<DialogState> state = RunRefusalPage();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->Find(ui::IDC_REASONS)->text, c.expected);
    EXPECT_EQ(state->caption, "Caution");
}

INSTANTIATE_TEST_SUITE_P(Reasons, RefusalCases, ::testing::ValuesIn(kRefusal), CaseName());

TEST_F(RefusalTest, DropsTheAcReasonOnceTheAdapterIsBack) {
    HandheldSpec spec;
    spec.acOnline = false;
    StartHandheld(spec);
    StartLinkMonitor();
    InstallServiceLibrary();
    g_bRefuse = 1;  // as the device information page left it
    Machine().SetAcOnline(true);

    std::optional<DialogState> state = RunRefusalPage();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->Find(ui::IDC_REASONS)->text, "");
    EXPECT_EQ(g_bRefuse.load(), 1) << "the refusal stands";
}

TEST_F(RefusalTest, WithoutDeviceInfoShowsNoReasons) {
    StartHandheld();
    StartLinkMonitor();  // but no service library on the handheld
    g_bLanguageMismatch = 1;
    std::optional<DialogState> state = RunRefusalPage();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->Find(ui::IDC_REASONS)->text, "");
}

// ---- Agreement -------------------------------------------------------------------------

TEST(AgreementText, FileOfBufferSizeOrMoreIsCutToFitWithItsZero) {
    auto folder = std::filesystem::temp_directory_path() / "tova-agreement-text";
    std::filesystem::create_directories(folder);
    struct Case {
        size_t fileBytes;
        size_t shownBytes;
    };
    for (Case c : {Case{0, 0}, Case{1, 1}, Case{AGREEMENT_BUFFER_SIZE - 1, AGREEMENT_BUFFER_SIZE - 1},
                   Case{AGREEMENT_BUFFER_SIZE, AGREEMENT_BUFFER_SIZE - 1},
                   Case{3 * AGREEMENT_BUFFER_SIZE, AGREEMENT_BUFFER_SIZE - 1}}) {
        SCOPED_TRACE(c.fileBytes);
        std::string text(c.fileBytes, 'x');
        for (size_t i = 0; i < text.size(); ++i) text[i] = char('a' + i % 26);
        WriteHostFile(folder / "License.txt", std::vector<uint8_t>(text.begin(), text.end()));
        // A guard after the buffer shows any write past its end.
        std::vector<char> memory(AGREEMENT_BUFFER_SIZE + 64, '#');
        ASSERT_TRUE(ReadAgreementText((folder / "License.txt").c_str(), memory.data()));
        EXPECT_EQ(std::string(memory.data()), text.substr(0, c.shownBytes));
        EXPECT_EQ(std::string(memory.begin() + AGREEMENT_BUFFER_SIZE, memory.end()), std::string(64, '#'));
    }
    std::vector<char> memory(AGREEMENT_BUFFER_SIZE, '#');
    EXPECT_FALSE(ReadAgreementText((folder / "absent.txt").c_str(), memory.data()));
    EXPECT_EQ(memory[0], '\0');
    std::filesystem::remove_all(folder);
}

TEST_F(WizardTest, AgreementShowsTheTextUpToItsFirstZeroByte) {
    std::string text = "Terms\r\nof use\n\xE9t\xE9";
    std::string file = text + std::string(1, '\0') + "hidden";
    WriteHostFile(WorkFolder() / "License.txt", std::vector<uint8_t>(file.begin(), file.end()));
    OneActionDriver driver(ui::IDD_AGREEMENT, UserAction::Press(ui::IDCANCEL));
    AgreementPage page;
    EXPECT_EQ(RunPage(page, driver), ui::IDCANCEL);
    std::optional<DialogState> state = host_->LastState(ui::IDD_AGREEMENT);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->Find(ui::IDC_AGREEMENT_TEXT)->text, text) << "8-bit text shown unchanged";
    EXPECT_TRUE(state->timers.empty()) << "timer 400 stopped on destruction";
}

TEST_F(WizardTest, AgreementWithoutFileShowsAnEmptyBoxAndStillWorks) {
    StartHandheld();
    StartLinkMonitor();
    ui::ScriptedDriver driver;  // presses Agree once it is usable
    AgreementPage page;
    EXPECT_EQ(RunPage(page, driver), ui::IDOK);
    EXPECT_EQ(host_->LastState(ui::IDD_AGREEMENT)->Find(ui::IDC_AGREEMENT_TEXT)->text, "");
}

// "Agree" follows the link: usable within about a second of the link coming up, unusable
// within about a second of it dropping.
TEST_F(WizardTest, AgreeFollowsTheLinkWithinASecond) {
    tova::SetTimeScale(0.05);
    StartHandheld();
    StartLinkMonitor();

    struct Change {
        uint64_t atMs;
        bool enabled;
    };
    std::vector<Change> changes;
    uint64_t openedAt = 0;
    std::optional<bool> lastEnabled;
    uint64_t linkDroppedAt = 0, linkBackAt = 0;
    int phase = 0;  // 0 opened, 1 cable pulled, 2 cable back, 3 done
    std::thread link;

    LambdaDriver driver;
    driver.onIdle = [&](const DialogState& page) {
        uint64_t now = tova::NominalNowMs();
        if (openedAt == 0) openedAt = now;
        bool enabled = page.Find(ui::IDOK)->enabled;
        if (lastEnabled != enabled) changes.push_back({now, enabled});
        lastEnabled = enabled;
        if (phase == 0 && enabled) {
            phase = 1;
            link = std::thread([&] {
                Machine().SetCable(false);
                WaitFor([] { return g_bConnected.load() != 1; }, 60000);
                linkDroppedAt = tova::NominalNowMs();
            });
        } else if (phase == 1 && !enabled) {
            link.join();
            phase = 2;
            link = std::thread([&] {
                Machine().SetCable(true);
                WaitFor([] { return g_bConnected.load() == 1; }, 60000);
                linkBackAt = tova::NominalNowMs();
            });
        } else if (phase == 2 && enabled) {
            link.join();
            phase = 3;
            return UserAction::Press(ui::IDCANCEL);
        }
        return UserAction::Wait(100);
    };
    AgreementPage page;
    EXPECT_EQ(RunPage(page, driver), ui::IDCANCEL);
    if (link.joinable()) link.join();

    ASSERT_EQ(changes.size(), 4u);  // disabled at opening, enabled, disabled, enabled
    EXPECT_FALSE(changes[0].enabled);
    // The flag is sampled by polling, so each lag may look a little longer than it is. The
    // page may also see a change a poll before the test's own thread notes it, so times are
    // compared rather than subtracted (an unsigned difference would wrap).
    constexpr uint64_t kSlack = 400;
    EXPECT_LE(changes[1].atMs - openedAt, 1000 + kSlack);
    EXPECT_GE(changes[2].atMs + kSlack, linkDroppedAt);
    EXPECT_LE(changes[2].atMs, linkDroppedAt + 1000 + kSlack);
    EXPECT_GE(changes[3].atMs + kSlack, linkBackAt);
    EXPECT_LE(changes[3].atMs, linkBackAt + 1000 + kSlack);
}

// ---- Leaving a page --------------------------------------------------------------------

// Every way of leaving the refusal, caution and agreement pages, with no handheld linked:
// none of them needs the link to end (not even "Do Not Agree").
struct LeaveCase {
    const char* name;
    std::unique_ptr<ui::Page> (*makePage)();
    UserAction action;
    int result;
};

template <typename PageType>
std::unique_ptr<ui::Page> Make() {
    return std::make_unique<PageType>();
}

const LeaveCase kLeave[] = {
    {"Refusal_Ok", Make<RefusalPage>, UserAction::Press(ui::IDCANCEL), ui::IDCANCEL},
    {"Refusal_Escape", Make<RefusalPage>, UserAction::Escape(), ui::IDCANCEL},
    {"Refusal_CloseBox", Make<RefusalPage>, UserAction::Close(), ui::IDCANCEL},
    {"Caution_Continue", Make<CautionPage>, UserAction::Press(ui::IDOK), ui::IDOK},
    {"Caution_Enter", Make<CautionPage>, UserAction::Enter(), ui::IDOK},
    {"Caution_Cancel", Make<CautionPage>, UserAction::Press(ui::IDCANCEL), ui::IDCANCEL},
    {"Caution_Escape", Make<CautionPage>, UserAction::Escape(), ui::IDCANCEL},
    {"Caution_CloseBox", Make<CautionPage>, UserAction::Close(), ui::IDCANCEL},
    {"Agreement_DoNotAgree", Make<AgreementPage>, UserAction::Press(ui::IDCANCEL), ui::IDCANCEL},
    {"Agreement_Escape", Make<AgreementPage>, UserAction::Escape(), ui::IDCANCEL},
    {"Agreement_CloseBox", Make<AgreementPage>, UserAction::Close(), ui::IDCANCEL},
};

class LeaveCases : public WizardTest, public ::testing::WithParamInterface<LeaveCase> {};

TEST_P(LeaveCases, EndsAsTheUserChose) {
    std::unique_ptr<ui::Page> page = GetParam().makePage();
    OneActionDriver driver(page->TemplateId(), GetParam().action);
    EXPECT_EQ(RunPage(*page, driver), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(Actions, LeaveCases, ::testing::ValuesIn(kLeave), CaseName());

}  // namespace
}  // namespace wizard_test
