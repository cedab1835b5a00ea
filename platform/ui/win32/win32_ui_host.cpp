#include "win32_ui_host.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "dialog_template_bytes.h"
#include "platform/clock/clock.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/page.h"
#include "wide_text.h"
#include "win32_dialog.h"
#include "win32_api.h"

namespace ui::win32 {
namespace {

HWND AsWindow(void* window) { return static_cast<HWND>(window); }

// What the dialog procedure needs to make the page's window at WM_INITDIALOG.
struct PageStart {
    Win32UiHost* host;
    const DialogTemplate* dialog;
    Page* page;
    uint64_t serial;
    Win32Dialog* window = nullptr;
};

// The message box being opened on this thread: its window is caught as it activates, then
// pictured and, with a driver, dismissed after the time the driver asked for.
struct PendingBox {
    Win32UiHost* host = nullptr;
    Screenshots* screenshots = nullptr;
    int ownerTemplateId = 0;
    std::string caption;
    bool dismiss = false;
    UINT keepOpenMs = 0;
    HWND box = nullptr;
    HHOOK hook = nullptr;
};
thread_local PendingBox* t_pendingBox = nullptr;

void CALLBACK DismissBox(HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    PendingBox* pending = t_pendingBox;
    if (!pending || !pending->box) return;
    HWND ok = ::GetDlgItem(pending->box, ui::IDOK);
    ::PostMessageW(pending->box, 0x0111 /* WM_COMMAND */, MAKEWPARAM(ui::IDOK, BN_CLICKED), LPARAM(ok));
}

void CALLBACK BoxIsUp(HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    PendingBox* pending = t_pendingBox;
    if (!pending || !pending->box) return;
    if (pending->screenshots) {
        ::UpdateWindow(pending->box);
        pending->screenshots->MessageBoxOpened(pending->box, pending->ownerTemplateId, pending->caption);
    }
    if (pending->dismiss) ::SetTimer(nullptr, 0, pending->keepOpenMs, DismissBox);
}

LRESULT CALLBACK WatchForBox(int code, WPARAM wParam, LPARAM lParam) {
    PendingBox* pending = t_pendingBox;
    if (pending && code == HCBT_ACTIVATE && !pending->box) {
        pending->box = reinterpret_cast<HWND>(wParam);
        // Pictured from the box's own loop, once it is laid out and drawn.
        ::SetTimer(nullptr, 0, 1, BoxIsUp);
    }
    return ::CallNextHookEx(pending ? pending->hook : nullptr, code, wParam, lParam);
}

}  // namespace

UINT ScaledIntervalMs(uint64_t nominalMs) {
    auto real = std::chrono::duration_cast<std::chrono::milliseconds>(tova::ScaledMs(nominalMs)).count();
    return UINT(std::clamp<int64_t>(real, 1, USER_TIMER_MAXIMUM));
}

Win32UiHost::Win32UiHost(const Win32HostOptions& options)
    : driver_(options.driver), transcript_(options.transcript) {
    if (!options.screenshotFolder.empty()) screenshots_ = std::make_unique<Screenshots>(options.screenshotFolder);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
}

Win32UiHost::~Win32UiHost() = default;

int Win32UiHost::RunPage(Page& page) { return RunModal(page); }

void Win32UiHost::MessageBox(std::string_view text, std::string_view caption) {
    ShowMessageBox(nullptr, text, caption);
}

int Win32UiHost::RunModal(Page& page) {
    const DialogTemplate* dialog = FindDialogTemplate(page.TemplateId());
    if (!dialog) {
        std::fprintf(stderr, "ui: no dialog template %d\n", page.TemplateId());
        return -1;
    }
    std::vector<uint16_t> bytes = DialogTemplateBytes(*dialog);
    PageStart start{this, dialog, &page, nextSerial_++};
    HWND owner = Top() ? AsWindow(Top()->Window()) : nullptr;
    INT_PTR shown = ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr),
                                              reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()), owner,
                                              reinterpret_cast<DLGPROC>(&Win32UiHost::DialogProc),
                                              reinterpret_cast<LPARAM>(&start));
    std::unique_ptr<Win32Dialog> window(start.window);
    if (!window) {
        std::fprintf(stderr, "ui: cannot make the window of dialog template %d (error %lu)\n", dialog->id,
                     ::GetLastError());
        return -1;
    }
    (void)shown;
    // A request to ask the driver may have gone to the window that just closed.
    askPending_ = false;
    NoteChange();
    return window->Result();
}

intptr_t __stdcall Win32UiHost::DialogProc(void* window, unsigned message, uintptr_t wParam, intptr_t lParam) {
    HWND hwnd = AsWindow(window);
    if (message == WM_INITDIALOG) {
        auto* start = reinterpret_cast<PageStart*>(lParam);
        auto* dialog = new Win32Dialog(*start->host, *start->dialog, *start->page, hwnd, start->serial);
        start->window = dialog;
        ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(dialog));
        Win32UiHost& host = *start->host;
        host.open_.push_back(dialog);
        dialog->Open();
        start->page->OnInitDialog();
        if (!dialog->Ended()) {
            dialog->ShowWindow(true);
            host.NoteChange();
        }
        return TRUE;
    }
    auto* dialog = reinterpret_cast<Win32Dialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!dialog) return FALSE;
    if (message == WM_DESTROY) {
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        dialog->Destroy();
        Win32UiHost& host = dialog->HostOf();
        host.open_.erase(std::remove(host.open_.begin(), host.open_.end(), dialog), host.open_.end());
        return FALSE;
    }
    intptr_t result = 0;
    if (!dialog->Handle(message, wParam, lParam, result)) return FALSE;
    return message == WM_CTLCOLORSTATIC || message == WM_CTLCOLORBTN ? result : TRUE;
}

void Win32UiHost::ShowMessageBox(Win32Dialog* owner, std::string_view text, std::string_view caption) {
    MessageBoxInfo info{owner ? owner->Template().id : 0, std::string(caption), std::string(text)};
    Record({EntryKind::MessageBox, info.ownerTemplateId, 0, 0, 0, info.caption, info.text});
    PendingBox pending;
    pending.host = this;
    pending.screenshots = screenshots_.get();
    pending.ownerTemplateId = info.ownerTemplateId;
    pending.caption = info.caption;
    if (driver_) {
        pending.dismiss = true;
        pending.keepOpenMs = ScaledIntervalMs(driver_->OnMessageBox(info));
    }
    PendingBox* outer = t_pendingBox;
    t_pendingBox = &pending;
    if (pending.dismiss || pending.screenshots)
        pending.hook = ::SetWindowsHookExW(WH_CBT, WatchForBox, nullptr, ::GetCurrentThreadId());
    UINT style = MB_OK;
    if (!owner) style |= MB_SETFOREGROUND | MB_TOPMOST;
    ++messageBoxDepth_;
    ::MessageBoxW(owner ? AsWindow(owner->Window()) : nullptr, ToWide(text).c_str(), ToWide(caption).c_str(), style);
    --messageBoxDepth_;
    if (pending.hook) ::UnhookWindowsHookEx(pending.hook);
    t_pendingBox = outer;
    NoteChange();
}

void Win32UiHost::NoteChange() {
    if (askPending_ || !driver_ || open_.empty()) return;
    askPending_ = true;
    ::PostMessageW(AsWindow(Top()->Window()), kAskDriverMessage, 0, 0);
}

void Win32UiHost::AskDriver() {
    askPending_ = false;
    if (!driver_ || open_.empty() || messageBoxDepth_ > 0) return;
    Win32Dialog& top = *open_.back();
    if (top.Ended()) return;
    DialogState state = top.Snapshot();
    UserAction action = driver_->OnPageIdle(state);
    if (action.kind == UserAction::Kind::Wait) {
        ::SetTimer(AsWindow(top.Window()), kDriverTimerId, ScaledIntervalMs(uint64_t(action.id)), nullptr);
        return;
    }
    if (action.kind == UserAction::Kind::None) return;
    if (ActionPossible(state, action)) Perform(top, action);
    NoteChange();
}

void Win32UiHost::Perform(Win32Dialog& top, const UserAction& action) {
    // The messages a person's mouse and keyboard make.
    HWND window = AsWindow(top.Window());
    const int page = top.Template().id;
    switch (action.kind) {
    case UserAction::Kind::Press: {
        HWND button = AsWindow(top.ControlWindow(int(action.id)));
        Record({EntryKind::UserPress, page, int(action.id), 0, 0, top.GetItemText(int(action.id))});
        ::SendMessageW(window, 0x0111 /* WM_COMMAND */, MAKEWPARAM(ItemId(int(action.id)), BN_CLICKED),
                       LPARAM(button));
        break;
    }
    case UserAction::Kind::Close:
        Record({EntryKind::UserClose, page});
        ::SendMessageW(window, 0x0112 /* WM_SYSCOMMAND */, ui::SC_CLOSE, 0);
        break;
    case UserAction::Kind::Escape:
        Record({EntryKind::UserEscape, page});
        ::SendMessageW(window, 0x0111 /* WM_COMMAND */, ui::IDCANCEL, 0);
        break;
    case UserAction::Kind::Enter: {
        Record({EntryKind::UserEnter, page});
        const ControlState* button = top.Snapshot().DefaultButton();
        ::SendMessageW(window, 0x0111 /* WM_COMMAND */, button ? ItemId(button->id) : ui::IDOK, 0);
        break;
    }
    case UserAction::Kind::SysCommand:
        Record({EntryKind::UserSysCommand, page, 0, action.id});
        ::SendMessageW(window, 0x0112 /* WM_SYSCOMMAND */, WPARAM(action.id), 0);
        break;
    default: break;
    }
}

void Win32UiHost::PageShown(Win32Dialog& page) {
    if (!screenshots_) return;
    ::UpdateWindow(AsWindow(page.Window()));
    screenshots_->PageShown(page.Window(), page.Template().id);
}

void Win32UiHost::PageClosing(Win32Dialog& page) {
    if (screenshots_ && page.EverShown()) screenshots_->PageClosing(page.Window(), page.Template().id);
}

void Win32UiHost::Record(const TranscriptEntry& entry) {
    if (transcript_) transcript_->Add(entry);
}

}  // namespace ui::win32

namespace ui {

std::unique_ptr<UiHost> CreateWin32UiHost(const Win32HostOptions& options) {
    return std::make_unique<win32::Win32UiHost>(options);
}

}  // namespace ui
