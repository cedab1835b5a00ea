// A wizard page: the code behind one dialog template. A host runs it modally and calls
// its handlers on the page's thread; the page talks back through Host().
#pragma once

#include "platform/ui/message_target.h"
#include "platform/ui/resources.h"

namespace ui {

class DialogHost;

class Page {
public:
    explicit Page(int templateId) : templateId_(templateId) {}
    virtual ~Page() = default;
    Page(const Page&) = delete;
    Page& operator=(const Page&) = delete;

    int TemplateId() const { return templateId_; }
    // The host of the page's window from OnInitDialog up to and including OnDestroy;
    // nullptr while the page is not running.
    DialogHost* Host() const { return host_; }

    // Before the window is shown.
    virtual void OnInitDialog() {}
    // A push button (or a posted WM_COMMAND). By default IDOK ends the page with IDOK
    // and IDCANCEL with IDCANCEL; other ids do nothing.
    virtual void OnCommand(int controlId);
    virtual void OnTimer(UINT timerId) {}
    // Every posted message first comes here; returning false leaves it to the default
    // handling (WM_CLOSE -> OnClose, WM_TIMER -> OnTimer, WM_COMMAND -> OnCommand,
    // WM_SYSCOMMAND -> OnSysCommand; anything else is dropped).
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam) { return false; }
    // Close box or a posted WM_CLOSE. By default the same as Escape.
    virtual void OnClose() { OnCancel(); }
    // Escape. By default ends the page with IDCANCEL.
    virtual void OnCancel();
    // A window-menu item. SC_CLOSE closes; other ids do nothing by default.
    virtual void OnSysCommand(UINT commandId);
    // The window is being destroyed; Host() is still valid, other threads can no
    // longer reach the page.
    virtual void OnDestroy() {}

    // Host side.
    void AttachHost(DialogHost* host) { host_ = host; }
    void Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

private:
    int templateId_;
    DialogHost* host_ = nullptr;
};

}  // namespace ui
