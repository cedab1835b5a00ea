// Every wizard page in real Qt windows (offscreen), built from its template: the device
// information lines draw red and nothing else does, and a screenshot of each page is kept
// as a test artifact.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QImage>

#include <map>
#include <memory>

#include "desktop/device/link.h"
#include "desktop/device/model_flag.h"
#include "desktop/device/update_messages.h"
#include "desktop/pages/about_page.h"
#include "desktop/pages/agreement_page.h"
#include "desktop/pages/caution_page.h"
#include "desktop/pages/device_flags.h"
#include "desktop/pages/device_info_page.h"
#include "desktop/pages/progress_page.h"
#include "desktop/pages/refusal_page.h"
#include "desktop/pages/update_worker_testing.h"
#include "desktop/pages/welcome_page.h"
#include "platform/ui/dialog_host.h"
#include "platform/ui/qt/qt_dialog.h"
#include "platform/ui/qt/qt_ui_host.h"
#include "qt_test_support.h"
#include "wizard_fixture.h"

namespace wizard_test {
namespace {

using ui::DialogState;
using ui::UserAction;

using ui::qt::test_support::RedPixels;

const auto* const kApplication =
    ::testing::AddGlobalTestEnvironment(new ui::qt::test_support::QtApplication("wizard_qt_test"));

class QtPages : public WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        QDir().mkpath(WIZARD_ARTIFACT_DIR);
        qtHost_ = std::make_unique<ui::qt::QtUiHost>();
        qtHost_->SetIdleHook([this](QDialog& dialog, const DialogState& state) { OnIdle(dialog, state); });
        driver_.onIdle = [this](const DialogState& state) { return Decide(state); };
        qtHost_->SetDriver(&driver_);
    }
    void TearDown() override {
        qtHost_.reset();
        WizardTest::TearDown();
    }

    // Whether a page shows what its screenshot is for.
    bool Settled(const DialogState& state) {
        switch (state.templateId) {
        case ui::IDD_DEVICE_INFO: return state.Find(ui::IDC_MODEL_TEXT)->visible;
        case ui::IDD_AGREEMENT: return state.Find(ui::IDOK)->enabled;
        case ui::IDD_PROGRESS: return state.Find(ui::IDC_OVERALL_PROGRESS)->visible;
        default: return true;
        }
    }

    void OnIdle(QDialog& dialog, const DialogState& state) {
        if (!Settled(state) || shot_.count(state.templateId)) return;
        shot_[state.templateId] = true;
        QString file = QString("%1/page-%2.png").arg(WIZARD_ARTIFACT_DIR).arg(state.templateId);
        EXPECT_TRUE(dialog.grab().save(file)) << file.toStdString();
        if (state.templateId != ui::IDD_DEVICE_INFO) return;
        auto& window = dynamic_cast<ui::qt::QtDialog&>(dialog);
        for (const ui::ControlState& control : state.controls) {
            if (control.kind == ui::ControlKind::Bitmap || control.kind == ui::ControlKind::Icon) continue;
            bool line = control.id == ui::IDC_MODEL_TEXT || control.id == ui::IDC_ROM_VERSION_TEXT ||
                        control.id == ui::IDC_LANGUAGE_TEXT;
            int red = RedPixels(*window.ControlWidget(control.id));
            if (line) EXPECT_GT(red, 20) << "line " << control.id << " is not drawn red";
            else EXPECT_EQ(red, 0) << "control " << control.id << " is drawn red";
        }
    }

    UserAction Decide(const DialogState& state) {
        if (!Settled(state)) return UserAction::None();
        // The progress page has no close box before the copy is done: its test ends it.
        if (state.templateId == ui::IDD_PROGRESS) return UserAction::None();
        int button = ui::UnattendedDriver::GoOnButton(state.templateId);
        if (state.templateId == ui::IDD_WELCOME && !aboutSeen_) {
            aboutSeen_ = true;
            return UserAction::SysCommand(ui::CMD_ABOUT);
        }
        return UserAction::Press(button);
    }

    std::unique_ptr<ui::qt::QtUiHost> qtHost_;
    LambdaDriver driver_;
    std::map<int, bool> shot_;
    bool aboutSeen_ = false;
};

TEST_F(QtPages, EveryPageRunsAndIsPhotographed) {
    StartHandheld();
    StartLinkMonitor();
    PutHeaderOnlyPackage();
    PutAgreement("Terms and conditions.\nSecond line of the agreement.");

    WelcomePage welcome;
    EXPECT_EQ(qtHost_->RunPage(welcome), ui::IDOK);
    DeviceInfoPage deviceInfo;
    EXPECT_EQ(qtHost_->RunPage(deviceInfo), ui::IDOK);
    AgreementPage agreement;
    EXPECT_EQ(qtHost_->RunPage(agreement), ui::IDOK);
    CautionPage caution;
    EXPECT_EQ(qtHost_->RunPage(caution), ui::IDOK);

    // The refusal page with every reason it can show at once.
    Machine().SetAcOnline(false);
    Machine().SetBatteryPercent(12);
    g_bSameVersion = 1;
    RefusalPage refusal;
    EXPECT_EQ(qtHost_->RunPage(refusal), ui::IDCANCEL);

    // The progress page with its bars up, shown without a worker behind it.
    WithoutWorker();
    ProgressPage progress;
    driver_.onIdle = [&](const DialogState& state) {
        if (state.templateId == ui::IDD_PROGRESS && !state.Find(ui::IDC_OVERALL_PROGRESS)->visible) {
            ui::DialogHost& host = *progress.Host();
            for (int id : {ui::IDC_OVERALL_PROGRESS, ui::IDC_FILE_PROGRESS, ui::IDC_PROGRESS_TEXT})
                host.ShowItem(id, true);
            host.PostMessage(WM_UPD_OVERALL_PROGRESS, 0, 54);
            host.PostMessage(WM_UPD_FILE_PROGRESS, 0, 37);
            return UserAction::Wait(50);
        }
        if (state.templateId == ui::IDD_PROGRESS && Settled(state)) {
            progress.Host()->PostMessage(ui::WM_CLOSE, 0, 0);  // as its worker would
            return UserAction::None();
        }
        return Decide(state);
    };
    EXPECT_EQ(qtHost_->RunPage(progress), 0);

    for (int page : {ui::IDD_WELCOME, ui::IDD_ABOUTBOX, ui::IDD_DEVICE_INFO, ui::IDD_AGREEMENT,
                     ui::IDD_CAUTION, ui::IDD_REFUSAL, ui::IDD_PROGRESS}) {
        EXPECT_TRUE(shot_.count(page)) << "no screenshot of page " << page;
    }
}

}  // namespace
}  // namespace wizard_test
