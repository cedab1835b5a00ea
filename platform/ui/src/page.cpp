#include "platform/ui/page.h"

#include "platform/ui/dialog_host.h"

namespace ui {

void Page::OnCommand(int controlId) {
    if (!host_) return;
    if (controlId == IDOK) host_->EndDialog(IDOK);
    else if (controlId == IDCANCEL) host_->EndDialog(IDCANCEL);
}

void Page::OnCancel() {
    if (host_) host_->EndDialog(IDCANCEL);
}

void Page::OnSysCommand(UINT commandId) {
    if (commandId == SC_CLOSE) OnClose();
}

void Page::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    if (OnMessage(message, wParam, lParam)) return;
    switch (message) {
    case WM_CLOSE: OnClose(); break;
    case WM_TIMER: OnTimer(UINT(wParam)); break;
    case WM_COMMAND: OnCommand(int(wParam & 0xFFFF)); break;
    case WM_SYSCOMMAND: OnSysCommand(UINT(wParam)); break;
    default: break;
    }
}

}  // namespace ui
