// The device information page against an emulated handheld: what it shows, which flags
// it sets and whether Next is usable, for handhelds of every kind the checks tell apart.
#include <gtest/gtest.h>

#include "desktop/device/link.h"
#include "desktop/device/model_flag.h"
#include "desktop/device/transfer.h"
#include "desktop/pages/device_flags.h"
#include "desktop/pages/device_info_page.h"
#include "platform/ui/resources.h"
#include "wizard_fixture.h"

namespace wizard_test {
namespace {

using ui::DialogState;
using ui::UserAction;

struct InfoCase {
    const char* name;
    HandheldSpec handheld;
    PackageSpec package;
    int refuse, languageMismatch, sameVersion, advancedModel;
    const char* modelLine;
    const char* romVersionLine;
    const char* languageLine;
};

HandheldSpec Handheld(uint16_t languageId = 1033) {
    HandheldSpec spec;
    spec.languageId = languageId;
    return spec;
}

PackageSpec Package(const char* language = "EN", const char* build = "03280401") {
    PackageSpec spec;
    spec.language = language;
    spec.buildDigits = build;
    return spec;
}

// A few whole flows through the handheld, its link and the real service library; every
// check and line on its own is table-tested on records in device_checks_test.cpp.
const InfoCase kCases[] = {
    {"AllChecksPass", Handheld(), Package(), 0, 0, 0, 1, "Model : Vorn Tova Q7 Advanced",
     "ROM Version : 4.20.A04(03280301EN)", "Language : English"},
    {"Battery39Refuses",
     [] { auto h = Handheld(); h.batteryPercent = 39; return h; }(), Package(), 1, 0, 0, 1,
     "Model : Vorn Tova Q7 Advanced", "ROM Version : 4.20.A04(03280301EN)", "Language : English"},
    // An unrecognised handheld reports battery 0xFFFFFFFF (passes, unsigned), AC 0, no
    // language, no configuration and build 0, which any package is newer than.
    {"UnrecognisedHandheld",
     [] { auto h = Handheld(); h.recognised = false; return h; }(), Package(), 1, 0, 0, 0,
     "Model : Vorn Tova Q7 Basic", "ROM Version : ", "Language : "},
    {"LanguageMismatch", Handheld(1036), Package("EN"), 1, 1, 0, 1,
     "Model : Vorn Tova Q7 Advanced", "ROM Version : 4.20.A04(03280301FR)", "Language : French"},
    {"EqualBuilds", Handheld(), Package("EN", "03280301"), 1, 0, 1, 1,
     "Model : Vorn Tova Q7 Advanced", "ROM Version : 4.20.A04(03280301EN)", "Language : English"},
    {"BasicModel",
     [] { auto h = Handheld(); h.advanced = false; return h; }(),
     [] { auto p = Package(); p.advanced = false; return p; }(), 0, 0, 0, 0,
     "Model : Vorn Tova Q7 Basic", "ROM Version : 4.20.A04(03280301EN)", "Language : English"},
};

// Presses Next once the evaluation has run and Next is usable, else Cancel.
UserAction AfterEvaluation(const DialogState& page) {
    if (page.templateId != ui::IDD_DEVICE_INFO || page.timers.count(IDT_EVALUATE_DEVICE)) {
        return UserAction::None();
    }
    const ui::ControlState* next = page.Find(ui::IDC_INFO_NEXT);
    return next->enabled ? UserAction::Press(ui::IDC_INFO_NEXT) : UserAction::Press(ui::IDC_INFO_CANCEL);
}

class DeviceInfoPageCases : public WizardTest, public ::testing::WithParamInterface<InfoCase> {};

TEST_P(DeviceInfoPageCases, ShowsLinesSetsFlagsAndEnablesNext) {
    const InfoCase& c = GetParam();
    StartHandheld(c.handheld);
    StartLinkMonitor();
    PutHeaderOnlyPackage(c.package);
    // As the welcome page leaves it for a handheld of this model.
    g_bAdvancedModel = c.package.advanced ? 1 : 0;

    LambdaDriver driver;
    driver.onIdle = AfterEvaluation;
    DeviceInfoPage page;
    EXPECT_EQ(RunPage(page, driver), ui::IDOK) << "Next must be usable, refused or not";

    std::optional<DialogState> state = host_->LastState(ui::IDD_DEVICE_INFO);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->Find(ui::IDC_MODEL_TEXT)->text, c.modelLine);
    EXPECT_EQ(state->Find(ui::IDC_ROM_VERSION_TEXT)->text, c.romVersionLine);
    EXPECT_EQ(state->Find(ui::IDC_LANGUAGE_TEXT)->text, c.languageLine);
    EXPECT_EQ(state->Find(ui::IDC_SYSTEM_INFO_GROUP)->text, "System Information");
    for (int line : {ui::IDC_MODEL_TEXT, ui::IDC_ROM_VERSION_TEXT, ui::IDC_LANGUAGE_TEXT}) {
        EXPECT_TRUE(state->Find(line)->visible) << line;
    }
    EXPECT_EQ(g_bRefuse.load(), c.refuse);
    EXPECT_EQ(g_bLanguageMismatch.load(), c.languageMismatch);
    EXPECT_EQ(g_bSameVersion.load(), c.sameVersion);
    EXPECT_EQ(g_bAdvancedModel.load(), c.advancedModel);
    // The service library was put on the handheld for the query.
    EXPECT_TRUE(HandheldHas(u"\\Windows\\HARLIX.DLL"));
}

INSTANTIATE_TEST_SUITE_P(Handhelds, DeviceInfoPageCases, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WizardTest, DeviceInfoLinesAreRedAndTheRestKeepTheirColour) {
    StartHandheld();
    StartLinkMonitor();
    PutHeaderOnlyPackage();
    g_bAdvancedModel = 1;
    LambdaDriver driver;
    driver.onIdle = AfterEvaluation;
    DeviceInfoPage page;
    RunPage(page, driver);
    std::optional<DialogState> state = host_->LastState(ui::IDD_DEVICE_INFO);
    ASSERT_TRUE(state);
    for (const ui::ControlState& control : state->controls) {
        bool line = control.id == ui::IDC_MODEL_TEXT || control.id == ui::IDC_ROM_VERSION_TEXT ||
                    control.id == ui::IDC_LANGUAGE_TEXT;
        EXPECT_EQ(control.textColour, line ? ui::RGB(255, 0, 0) : ui::CLR_DEFAULT) << control.id;
    }
}

// Ways the evaluation cannot run: the information stays hidden and only Cancel remains.
struct BlockedCase {
    const char* name;
    bool packagePresent;
    bool libraryPresent;
    bool linkUp;
    int expectedResult;  // what the page ends with once the user cancels (or it closes)
};

const BlockedCase kBlocked[] = {
    // No package of the handheld's model: the page closes itself as Cancel, silently.
    {"NoPackage", false, true, true, ui::IDCANCEL},
    {"LibraryCannotBeCopied", true, false, true, ui::IDCANCEL},
    {"LinkDownAtTheTimer", true, true, false, ui::IDCANCEL},
};

class DeviceInfoBlocked : public WizardTest, public ::testing::WithParamInterface<BlockedCase> {};

TEST_P(DeviceInfoBlocked, KeepsLinesHiddenAndNextDisabled) {
    const BlockedCase& c = GetParam();
    HandheldSpec spec;
    spec.cableAttached = c.linkUp;
    StartHandheld(spec);
    if (c.linkUp) StartLinkMonitor();
    if (c.packagePresent) PutHeaderOnlyPackage();
    if (!c.libraryPresent) RemoveProgramFile(kServiceLibraryFileName);
    g_bAdvancedModel = 1;

    LambdaDriver driver;
    bool cancelled = false;
    driver.onIdle = [&](const DialogState& page) {
        if (page.timers.count(IDT_EVALUATE_DEVICE) || cancelled) return UserAction::None();
        cancelled = true;
        return UserAction::Press(ui::IDC_INFO_CANCEL);
    };
    DeviceInfoPage page;
    EXPECT_EQ(RunPage(page, driver), c.expectedResult);

    std::optional<DialogState> state = host_->LastState(ui::IDD_DEVICE_INFO);
    ASSERT_TRUE(state);
    EXPECT_FALSE(state->Find(ui::IDC_INFO_NEXT)->enabled);
    for (int line : {ui::IDC_MODEL_TEXT, ui::IDC_ROM_VERSION_TEXT, ui::IDC_LANGUAGE_TEXT}) {
        EXPECT_FALSE(state->Find(line)->visible) << line;
    }
    EXPECT_TRUE(host_->GetTranscript().MessageBoxes().empty());
    EXPECT_EQ(g_bRefuse.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Evaluation, DeviceInfoBlocked, ::testing::ValuesIn(kBlocked),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WizardTest, DeviceInfoWithoutPackageClosesItselfBeforeAnyUserAction) {
    StartHandheld();
    StartLinkMonitor();
    g_bAdvancedModel = 1;
    PutHeaderOnlyPackage([] { PackageSpec p; p.advanced = false; return p; }());  // other model only
    LambdaDriver driver;  // presses nothing
    DeviceInfoPage page;
    EXPECT_EQ(RunPage(page, driver), ui::IDCANCEL);
    EXPECT_TRUE(host_->GetTranscript().Find(ui::EntryKind::UserPress).empty());
}

}  // namespace
}  // namespace wizard_test
