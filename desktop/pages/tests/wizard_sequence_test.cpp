// The start-up routine: the link comes up or the user is told to connect, then the pages
// run in their fixed order, each able to stop the sequence.
#include <gtest/gtest.h>

#include <filesystem>

#include "desktop/device/link.h"
#include "link_testing.h"
#include "desktop/pages/device_flags.h"
#include "platform/clock/clock.h"
#include "platform/ui/resources.h"
#include "platform/ui/string_table.h"
#include "wizard_fixture.h"

namespace wizard_test {
namespace {

using ui::UserAction;

class WizardSequence : public WizardTest {
protected:
    // A linked handheld and a package whose header says the update may go ahead.
    void PrepareAcceptedUpdate(const HandheldSpec& spec = {}) {
        StartHandheld(spec);
        PutHeaderOnlyPackage();
    }
    std::vector<int> Pages() { return host_->GetTranscript().PagesOpened(); }
    void ExpectLinkStopped() {
        EXPECT_NE(g_bConnected.load(), 1);
        EXPECT_EQ(g_csRapi.impl.load(), nullptr) << "the lock is deleted at the end";
    }
};

constexpr int W = ui::IDD_WELCOME, I = ui::IDD_DEVICE_INFO, R = ui::IDD_REFUSAL,
              A = ui::IDD_AGREEMENT, C = ui::IDD_CAUTION, P = ui::IDD_PROGRESS;

TEST_F(WizardSequence, WithoutAgreementTheAgreementPageIsLeftOut) {
    PrepareAcceptedUpdate();
    ui::ScriptedDriver driver;  // goes on everywhere
    RunWizard(driver);
    EXPECT_EQ(Pages(), (std::vector<int>{W, I, C, P}));
    ExpectLinkStopped();
}

TEST_F(WizardSequence, WithAgreementItComesBeforeTheCautionPage) {
    PrepareAcceptedUpdate();
    PutAgreement("Terms");
    ui::ScriptedDriver driver;
    RunWizard(driver);
    EXPECT_EQ(Pages(), (std::vector<int>{W, I, A, C, P}));
    EXPECT_EQ(host_->LastState(A)->Find(ui::IDC_AGREEMENT_TEXT)->text, "Terms");
    ExpectLinkStopped();
}

TEST_F(WizardSequence, RefusedUpdateShowsOnlyTheRefusalPage) {
    HandheldSpec spec;
    spec.acOnline = false;
    PrepareAcceptedUpdate(spec);
    PutAgreement("Terms");  // present, yet never shown
    ui::ScriptedDriver driver;
    RunWizard(driver);
    EXPECT_EQ(Pages(), (std::vector<int>{W, I, R}));
    EXPECT_EQ(host_->LastState(R)->Find(ui::IDC_REASONS)->text, ui::LoadString(ui::IDS_REASON_AC));
    ExpectLinkStopped();
}

// Presence is sampled once, before the welcome page: an agreement removed afterwards is
// still shown, with an empty text.
TEST_F(WizardSequence, AgreementRemovedAfterStartUpIsStillShownEmpty) {
    PrepareAcceptedUpdate();
    PutAgreement("Terms");
    struct RemovingDriver : ui::ScriptedDriver {
        std::filesystem::path file;
        UserAction OnPageIdle(const ui::DialogState& page) override {
            if (page.templateId == ui::IDD_WELCOME) std::filesystem::remove(file);
            return ui::ScriptedDriver::OnPageIdle(page);
        }
    } driver;
    driver.file = WorkFolder() / "License.txt";
    RunWizard(driver);
    EXPECT_EQ(Pages(), (std::vector<int>{W, I, A, C, P}));
    EXPECT_EQ(host_->LastState(A)->Find(ui::IDC_AGREEMENT_TEXT)->text, "");
}

struct StopCase {
    const char* name;
    int page;
    UserAction action;
    std::vector<int> pages;
};

const StopCase kStops[] = {
    {"ExitOnWelcome", W, UserAction::Press(ui::IDCANCEL), {W}},
    {"EscapeOnWelcome", W, UserAction::Escape(), {W}},
    {"CancelOnDeviceInfo", I, UserAction::Press(ui::IDC_INFO_CANCEL), {W, I}},
    {"DoNotAgree", A, UserAction::Press(ui::IDCANCEL), {W, I, A}},
    {"CloseAgreement", A, UserAction::Close(), {W, I, A}},
    {"CancelOnCaution", C, UserAction::Press(ui::IDCANCEL), {W, I, A, C}},
    {"CloseCaution", C, UserAction::Close(), {W, I, A, C}},
};

class WizardStops : public WizardSequence, public ::testing::WithParamInterface<StopCase> {};

TEST_P(WizardStops, NoFurtherPageAfterAStop) {
    const StopCase& c = GetParam();
    PrepareAcceptedUpdate();
    PutAgreement("Terms");
    ui::ScriptedDriver driver;
    driver.Then(c.page, c.action);
    RunWizard(driver);
    EXPECT_EQ(Pages(), c.pages);
    EXPECT_EQ(host_->GetTranscript().PageResults().back(), std::make_pair(c.page, int(ui::IDCANCEL)));
    EXPECT_TRUE(host_->GetTranscript().MessageBoxes().empty());
    ExpectLinkStopped();
}

INSTANTIATE_TEST_SUITE_P(Pages, WizardStops, ::testing::ValuesIn(kStops),
                         [](const auto& info) { return std::string(info.param.name); });

// No handheld to link with: one second after the start the user is told to connect, and
// the program ends once the message is dismissed.
TEST_F(WizardSequence, NoHandheldGivesString128AfterOneSecond) {
    tova::SetTimeScale(0.1);
    HandheldSpec spec;
    spec.cableAttached = false;
    StartHandheld(spec);
    uint64_t startedAt = tova::NominalNowMs();
    uint64_t shownAt = 0;
    ui::ScriptedDriver driver;
    driver.SetMessageBoxHook([&](const ui::MessageBoxInfo&) {
        shownAt = tova::NominalNowMs();
        return uint64_t(0);
    });
    RunWizard(driver);
    EXPECT_TRUE(Pages().empty());
    std::vector<ui::MessageBoxInfo> boxes = host_->GetTranscript().MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, ui::LoadString(ui::IDS_NO_DEVICE));
    EXPECT_EQ(boxes[0].caption, "Caution");
    EXPECT_EQ(boxes[0].ownerTemplateId, 0);
    EXPECT_GE(shownAt - startedAt, 1000u);
    // Below the 2000 ms of a probe period or of StopLink's pause; the room above one second
    // is for a loaded machine under a sanitizer.
    EXPECT_LE(shownAt - startedAt, 1900u);
    ExpectLinkStopped();
}

TEST_F(WizardSequence, LinkThreadThatCannotStartGivesBothMessages) {
    StartHandheld();
    link_testing::SetThreadCreationFails(true);
    ui::ScriptedDriver driver;
    RunWizard(driver);
    EXPECT_TRUE(Pages().empty());
    std::vector<ui::MessageBoxInfo> boxes = host_->GetTranscript().MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "CeRapiInit() ... Filed ");
    EXPECT_EQ(boxes[0].caption, "");
    EXPECT_EQ(boxes[1].text, ui::LoadString(ui::IDS_NO_DEVICE));
    EXPECT_EQ(boxes[1].caption, "Caution");
    ExpectLinkStopped();
}

TEST_F(WizardSequence, WatchdogThatCannotStartEndsSilently) {
    StartHandheld();
    win32::DeleteCriticalSection(&g_csRapi);
    ui::ScriptedDriver driver;
    MakeHost(driver);
    WizardApp app(*host_, [] { return false; });
    EXPECT_FALSE(app.RunWizard());
    EXPECT_TRUE(Pages().empty());
    EXPECT_TRUE(host_->GetTranscript().MessageBoxes().empty());
    EXPECT_EQ(g_csRapi.impl.load(), nullptr);
}

}  // namespace
}  // namespace wizard_test
