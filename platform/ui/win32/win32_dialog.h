// One page window on Win32: a real modal dialog built from the page's template, each
// control a mirror of the window's dialog model. Everything but posts and calls through
// Handle() happens on the thread that runs the dialog.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/ui/model_dialog_host.h"

namespace ui::win32 {

class Win32UiHost;

class Win32Dialog final : public detail::ModelDialogHost {
public:
    // `window` is the dialog's HWND, created by the dialog manager from the template.
    Win32Dialog(Win32UiHost& host, const DialogTemplate& dialog, Page& page, void* window, uint64_t serial);

    // DialogHost
    void MessageBox(std::string_view text, std::string_view caption) override;
    int RunChildPage(Page& child) override;

    // Host side.
    void* Window() const { return window_; }
    Win32UiHost& HostOf() const { return host_; }
    void* ControlWindow(int controlId) const;
    bool EverShown() const { return everShown_; }
    // The dialog procedure's part: true when the message was handled, with `result` the
    // value the procedure returns.
    bool Handle(unsigned message, uintptr_t wParam, intptr_t lParam, intptr_t& result);
    // Routes a message to the page and lets the host know the page may have changed.
    void DispatchToPage(UINT message, WPARAM wParam, LPARAM lParam);

private:
    // DialogModel::Mirror
    void ControlChanged(const ControlState& control, ControlAspect aspect) override;
    void MenuItemAppended(const WindowMenuItem& item) override;
    void StyleChanged(uint32_t style) override;
    void ShowRequested(bool show, bool changed) override;
    void IconChanged(int iconId) override;
    void TimerSet(UINT timerId, UINT periodMs) override;
    void TimerKilled(UINT timerId) override;
    // ModelDialogHost
    void OnEnded(int result) override;
    void OnClosed() override;

    void SetPictures();
    void OnCommand(int itemId, bool fromControl);
    intptr_t ControlColour(void* dc, void* control);

    Win32UiHost& host_;
    void* window_;
    void* bitmap_ = nullptr;  // the welcome picture's HBITMAP, owned
    uint32_t appliedStyle_;
    bool everShown_ = false;
};

}  // namespace ui::win32
