#include "desktop/pages/progress_page.h"

#include <cstdio>
#include <vector>

#include "desktop/device/link.h"
#include "format/rom_package_header.h"
#include "desktop/device/service_client.h"
#include "desktop/device/update_messages.h"
#include "platform/clock/clock.h"
#include "platform/ui/dialog_host.h"
#include "platform/ui/string_table.h"

namespace {

// Posted to itself when the worker could not be started, so that the message shows over
// the page once it is on the screen.
constexpr ui::UINT WM_WORKER_NOT_STARTED = ui::WM_APP + 310;

constexpr int kInitialOverallPos = 3;
constexpr uint64_t kAfterForcedStopMs = 100;

// The page's destruction gives a thread of the page 2000 ms to end, then abandons it.
void StopPageThread(std::shared_ptr<UpdateWorkerThread>& thread) {
    if (!thread) return;
    if (!thread->WaitForEnd(kWorkerStopWaitMs)) {
        thread->Abandon();
        tova::ScaledSleep(kAfterForcedStopMs);
    }
    thread.reset();
}

std::string OtherRomText(uint32_t deviceBuild, int32_t packageBuild) {
    std::string_view format = ui::LoadString(ui::IDS_OTHER_ROM_RETURNED);
    std::string running = DeviceBuildText(deviceBuild).digits;
    std::string wanted = PackageBuildText(packageBuild).digits;
    std::vector<char> text(format.size() + running.size() + wanted.size() + 1);
    std::snprintf(text.data(), text.size(), std::string(format).c_str(), running.c_str(), wanted.c_str());
    return text.data();
}

}  // namespace

ProgressPage::ProgressPage() : ui::Page(ui::IDD_PROGRESS) {}

void ProgressPage::OnInitDialog() {
    ui::DialogHost& host = *Host();
    g_hUpdateWorker.reset();
    host.SetProgressRange(ui::IDC_OVERALL_PROGRESS, 0, 100);
    host.SetProgressPos(ui::IDC_OVERALL_PROGRESS, kInitialOverallPos);
    host.SetProgressRange(ui::IDC_FILE_PROGRESS, 0, 100);
    host.SetProgressPos(ui::IDC_FILE_PROGRESS, 0);
    host.SetIcon(ui::IDR_MAINFRAME);

    // The handheld restarts and the link drops; the worker's first wait absorbs that.
    InvokeColdReset();

    context_ = std::make_shared<UpdateWorkerContext>(host.Handle());
    g_hUpdateWorker = UpdateWorkerThread::Start(context_, UpdateWorker);
    if (!g_hUpdateWorker) host.PostMessage(WM_WORKER_NOT_STARTED, 0, 0);
}

bool ProgressPage::OnMessage(ui::UINT message, ui::WPARAM wParam, ui::LPARAM lParam) {
    switch (message) {
    case WM_UPD_OVERALL_PROGRESS: OnOverallProgress(int(lParam)); return true;
    case WM_UPD_FILE_PROGRESS: Host()->SetProgressPos(ui::IDC_FILE_PROGRESS, int(lParam)); return true;
    case WM_UPD_COPY_DONE: OnCopyDone(); return true;
    case WM_UPD_COMPLETE: OnComplete(); return true;
    case WM_UPD_WAIT_RECONNECT: OnWaitReconnect(); return true;
    case WM_UPD_RETURN_CHECKED: OnReturnChecked(ReturnedRom(wParam), uint32_t(lParam)); return true;
    case WM_WORKER_NOT_STARTED: OnWorkerNotStarted(); return true;
    default: return false;
    }
}

void ProgressPage::OnOverallProgress(int percent) {
    char text[64];
    std::snprintf(text, sizeof text, "%s%d %%", ui::LoadString(ui::IDS_COPY_FILE).data(), percent);
    Host()->SetItemText(ui::IDC_PROGRESS_TEXT, text);
    Host()->SetProgressPos(ui::IDC_OVERALL_PROGRESS, percent);
}

// The files are on the handheld: the page can be closed now, and says the handheld is
// upgrading instead of showing the copy.
void ProgressPage::OnCopyDone() {
    ui::DialogHost& host = *Host();
    host.ModifyStyle(0, ui::WS_SYSMENU);
    // Hidden and shown again so that the frame is redrawn with its close box.
    host.ShowWindow(false);
    host.ShowWindow(true);
    for (int item : kProgressItems) host.ShowItem(item, false);
    host.SetItemText(ui::IDC_STATUS_TITLE, ui::LoadString(ui::IDS_COPY_COMPLETE));
    host.SetItemText(ui::IDC_STATUS_TEXT, ui::LoadString(ui::IDS_DEVICE_UPGRADING));
}

void ProgressPage::OnComplete() {
    completed_ = true;
    Host()->MessageBox(ui::LoadString(ui::IDS_CHECK_VERSION), ui::LoadString(ui::IDS_UPDATE_COMPLETE));
    Host()->EndDialog(0);
}

void ProgressPage::OnWaitReconnect() {
    m_nReconnectTimer = IDT_RECONNECT;
    awaitingSinceMs_ = tova::NominalNowMs();
    backSinceMs_.reset();
    Host()->SetTimer(IDT_RECONNECT, kReconnectPeriodMs);
}

// Without a worker nothing would ever end the page: it gains its close box and says so.
void ProgressPage::OnWorkerNotStarted() {
    ui::DialogHost& host = *Host();
    host.ModifyStyle(0, ui::WS_SYSMENU);
    host.ShowWindow(false);
    host.ShowWindow(true);
    host.MessageBox(ui::LoadString(ui::IDS_COPY_INCOMPLETE), ui::LoadString(ui::IDS_CAUTION));
}

void ProgressPage::OnTimer(ui::UINT timerId) {
    if (timerId == 0 || timerId != m_nReconnectTimer) return;
    OnReturnTick();
}

// A link that is back starts a check of the build; the check's answer decides. Without a
// link, or without an answer, the page gives up after its bounded waits.
void ProgressPage::OnReturnTick() {
    if (returnCheck_) return;
    uint64_t now = tova::NominalNowMs();
    if (LinkIsUp()) {
        if (!backSinceMs_) backSinceMs_ = now;
        int32_t build = packageBuild_;
        returnCheck_ = UpdateWorkerThread::Start(context_, [build](std::shared_ptr<UpdateWorkerContext> page) {
            return CheckReturnedRom(std::move(page), build);
        });
        if (returnCheck_) return;
    }
    EndIfWaitedTooLong(now);
}

// Back but never read: 2 minutes from the return; never back: 15 minutes from the hand-over.
void ProgressPage::EndIfWaitedTooLong(uint64_t now) {
    if (backSinceMs_) {
        if (now - *backSinceMs_ >= kReturnCheckWaitMs)
            EndAwaitingReturn(std::string(ui::LoadString(ui::IDS_RETURN_UNCONFIRMED)));
    } else if (now - awaitingSinceMs_ >= kReturnWaitMs) {
        EndAwaitingReturn(std::string(ui::LoadString(ui::IDS_NOT_RETURNED)));
    }
}

void ProgressPage::OnReturnChecked(ReturnedRom found, uint32_t build) {
    returnCheck_.reset();
    if (m_nReconnectTimer == 0) return;  // not waiting for the handheld's return
    switch (found) {
    case ReturnedRom::kPackageBuild:
        StopReconnectTimer();
        Host()->PostMessage(WM_UPD_COMPLETE, 0, 0);
        return;
    case ReturnedRom::kOtherBuild: EndAwaitingReturn(OtherRomText(build, packageBuild_)); return;
    case ReturnedRom::kUnreadable: break;
    }
    // Tried again on the next tick until the bound runs out.
    EndIfWaitedTooLong(tova::NominalNowMs());
}

void ProgressPage::StopReconnectTimer() {
    m_nReconnectTimer = 0;
    Host()->KillTimer(IDT_RECONNECT);
}

void ProgressPage::EndAwaitingReturn(const std::string& text) {
    StopReconnectTimer();
    Host()->MessageBox(text, ui::LoadString(ui::IDS_CAUTION));
    Host()->EndDialog(0);
}

// The only button with the OK id is hidden and disabled; nothing else ends the page.
void ProgressPage::OnCommand(int controlId) {}

void ProgressPage::OnClose() { Host()->EndDialog(0); }

void ProgressPage::OnCancel() {}

void ProgressPage::OnDestroy() {
    if (m_nReconnectTimer != 0) {
        Host()->KillTimer(m_nReconnectTimer);
        m_nReconnectTimer = 0;
    }
    if (context_) context_->m_bStopRequested = 1;
    StopPageThread(g_hUpdateWorker);
    StopPageThread(returnCheck_);
}
