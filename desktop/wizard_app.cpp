#include "wizard_app.h"

#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

#include "desktop/device/link.h"
#include "desktop/pages/about_page.h"
#include "desktop/pages/agreement_page.h"
#include "desktop/pages/caution_page.h"
#include "desktop/pages/device_flags.h"
#include "desktop/pages/device_info_page.h"
#include "desktop/pages/progress_page.h"
#include "desktop/pages/refusal_page.h"
#include "desktop/pages/update_worker.h"
#include "desktop/pages/welcome_page.h"
#include "platform/clock/clock.h"
#include "platform/ui/string_table.h"

namespace {

constexpr uint64_t kLinkWaitMs = 1000;

// The six pages, created in wizard order and destroyed in the reverse order.
struct WizardPages {
    WelcomePage welcome;
    DeviceInfoPage deviceInfo;
    RefusalPage refusal;
    AgreementPage agreement;
    CautionPage caution;
    ProgressPage progress;
};

bool AgreementPresent() {
    std::error_code ignored;
    return std::filesystem::exists(kAgreementFileName, ignored);
}

WizardOutcome RunPages(ui::UiHost& host, WizardPages& pages) {
    bool agreementPresent = AgreementPresent();
    if (host.RunPage(pages.welcome) != ui::IDOK) return WizardOutcome::kFailed;
    if (host.RunPage(pages.deviceInfo) != ui::IDOK) return WizardOutcome::kFailed;
    if (g_bRefuse.load() != 0) {
        host.RunPage(pages.refusal);
        return WizardOutcome::kRefused;
    }
    if (agreementPresent && host.RunPage(pages.agreement) != ui::IDOK) return WizardOutcome::kFailed;
    if (host.RunPage(pages.caution) != ui::IDOK) return WizardOutcome::kFailed;
    pages.progress.SetPackageBuild(pages.deviceInfo.PackageBuildFound());
    host.RunPage(pages.progress);
    return pages.progress.Completed() ? WizardOutcome::kUpdated : WizardOutcome::kFailed;
}

}  // namespace

bool StartWatchdogThread() {
    try {
        std::thread(LinkWatchdogThread).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

WizardApp::WizardApp(ui::UiHost& host, WatchdogStarter startWatchdog)
    : host_(host), startWatchdog_(std::move(startWatchdog)) {}

bool WizardApp::RunWizard() {
    auto pages = std::make_unique<WizardPages>();
    outcome_ = WizardOutcome::kFailed;
    win32::InitializeCriticalSection(&g_csRapi);

    if (StartLink() != 0) host_.MessageBox(kLinkStartFailedText, "");
    if (!startWatchdog_()) {
        // Nothing can take the lock yet: the link's start thread never does.
        win32::DeleteCriticalSection(&g_csRapi);
        return false;
    }

    tova::ScaledSleep(kLinkWaitMs);
    if (!LinkIsUp()) {
        host_.MessageBox(ui::LoadString(ui::IDS_NO_DEVICE), ui::LoadString(ui::IDS_CAUTION));
        outcome_ = WizardOutcome::kNoHandheld;
    } else {
        outcome_ = RunPages(host_, *pages);
    }

    // No probe may be under way or start once the lock is gone.
    QuiesceLinkWatchdog();
    StopLink();
    // A worker abandoned by the progress page may still be finishing a remote call; the lock
    // stays while it might enter it (the program ends right after anyway).
    if (WaitForUpdateWorkers(kWorkerDrainMs)) win32::DeleteCriticalSection(&g_csRapi);
    return false;
}
