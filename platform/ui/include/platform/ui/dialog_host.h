// What a page sees of its window, in Win32 terms. One DialogHost exists per open page
// window. Every call except PostMessage, SendCall and Handle belongs to the page's own
// thread; another thread (the update worker) reaches the page through Handle(), which
// stays safe to use after the window is gone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ui/dialog_state.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/message_target.h"
#include "platform/ui/resources.h"
#include "platform/ui/window_handle.h"

namespace ui {

class Page;

class DialogHost : public MessageTarget {
public:
    ~DialogHost() override = default;

    virtual const DialogTemplate& Template() const = 0;

    // Controls, by id. A call naming a control that the template lacks changes nothing,
    // returns false and is reported by the host.
    virtual bool SetItemText(int controlId, std::string_view text) = 0;
    virtual std::string GetItemText(int controlId) const = 0;
    virtual bool ShowItem(int controlId, bool show) = 0;
    virtual bool EnableItem(int controlId, bool enable) = 0;
    virtual bool IsItemVisible(int controlId) const = 0;
    virtual bool IsItemEnabled(int controlId) const = 0;
    // Progress bars; the position is kept inside the range.
    virtual bool SetProgressRange(int controlId, int minimum, int maximum) = 0;
    virtual bool SetProgressPos(int controlId, int pos) = 0;
    virtual int GetProgressPos(int controlId) const = 0;
    // CLR_DEFAULT gives the control back its normal colour.
    virtual bool SetItemTextColour(int controlId, COLORREF colour) = 0;

    // Timers by id; the period is nominal milliseconds on the scaled clock. Setting a
    // running id restarts it with the new period. Ticks arrive as OnTimer(id).
    virtual bool SetTimer(UINT timerId, UINT periodMs) = 0;
    virtual bool KillTimer(UINT timerId) = 0;

    // Ends the modal run of the page with `result` once the current handler returns;
    // called from OnInitDialog the window is never shown.
    virtual void EndDialog(int result) = 0;

    // A message box owned by the page, OK button only. Blocks until dismissed; the page
    // takes no user input meanwhile but still receives its timers and posted messages.
    virtual void MessageBox(std::string_view text, std::string_view caption) = 0;

    // Appends a separator and then an item with `text` and `commandId` to the window
    // menu; choosing it arrives as OnSysCommand(commandId).
    virtual void AppendWindowMenuItem(std::string_view text, UINT commandId) = 0;

    // Window style (WS_* bits). Adding WS_SYSMENU gives the window its window menu and
    // close box.
    virtual void ModifyStyle(uint32_t remove, uint32_t add) = 0;
    virtual uint32_t GetStyle() const = 0;
    virtual void ShowWindow(bool show) = 0;
    // Large and small window icon from an icon resource.
    virtual void SetIcon(int iconId) = 0;

    // Runs another page modally over this one and returns its result.
    virtual int RunChildPage(Page& child) = 0;

    // Everything the window shows, copied.
    virtual DialogState Snapshot() const = 0;

    // Any thread.
    virtual std::shared_ptr<WindowHandle> Handle() const = 0;
    void PostMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        Handle()->PostMessage(message, wParam, lParam);
    }
    bool SendCall(WindowHandle::Call call) { return Handle()->SendCall(std::move(call)); }
};

}  // namespace ui
