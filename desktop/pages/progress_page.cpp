#include "pages/progress_page.h"

#include <cstdio>

#include "desktop/link.h"
#include "desktop/service_client.h"
#include "desktop/update_messages.h"
#include "platform/clock.h"
#include "ui/dialog_host.h"
#include "ui/string_table.h"

namespace {

// Posted to itself when the worker could not be started, so that the message shows over
// the page once it is on the screen.
constexpr ui::UINT WM_WORKER_NOT_STARTED = ui::WM_APP + 310;

constexpr int kInitialOverallPos = 3;
constexpr uint64_t kAfterForcedStopMs = 100;

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
    g_hUpdateWorker = UpdateWorkerThread::Start(context_);
    if (!g_hUpdateWorker) host.PostMessage(WM_WORKER_NOT_STARTED, 0, 0);
}

bool ProgressPage::OnMessage(ui::UINT message, ui::WPARAM wParam, ui::LPARAM lParam) {
    switch (message) {
    case WM_UPD_OVERALL_PROGRESS: OnOverallProgress(int(lParam)); return true;
    case WM_UPD_FILE_PROGRESS: Host()->SetProgressPos(ui::IDC_FILE_PROGRESS, int(lParam)); return true;
    case WM_UPD_COPY_DONE: OnCopyDone(); return true;
    case WM_UPD_COMPLETE: OnComplete(); return true;
    case WM_UPD_WAIT_RECONNECT: OnWaitReconnect(); return true;
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

void ProgressPage::OnCopyDone() {
    ui::DialogHost& host = *Host();
    host.ModifyStyle(0, ui::WS_SYSMENU);
    // Hidden and shown again so that the frame is redrawn with its close box.
    host.ShowWindow(false);
    host.ShowWindow(true);
}

void ProgressPage::OnComplete() {
    Host()->MessageBox(ui::LoadString(ui::IDS_CHECK_VERSION), ui::LoadString(ui::IDS_UPDATE_COMPLETE));
    Host()->EndDialog(0);
}

void ProgressPage::OnWaitReconnect() {
    m_nReconnectTimer = IDT_RECONNECT;
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
    if (g_bConnected.load() != 1) return;
    m_nReconnectTimer = 0;
    Host()->KillTimer(timerId);
    Host()->PostMessage(WM_UPD_COMPLETE, 0, 0);
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
    if (g_hUpdateWorker) {
        if (!g_hUpdateWorker->WaitForEnd(kWorkerStopWaitMs)) {
            g_hUpdateWorker->Abandon();
            tova::ScaledSleep(kAfterForcedStopMs);
        }
        g_hUpdateWorker.reset();
    }
}
