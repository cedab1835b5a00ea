// A page whose handlers each test sets for itself; a handler left empty behaves as the
// plain Page does. Shared by the tests of both dialog hosts.
#pragma once

#include <functional>

#include "platform/ui/dialog_host.h"
#include "platform/ui/page.h"

namespace ui::test_support {

class TestPage : public Page {
public:
    explicit TestPage(int templateId) : Page(templateId) {}

    std::function<void(TestPage&)> init;
    std::function<bool(TestPage&, UINT, WPARAM, LPARAM)> message;
    std::function<void(TestPage&, UINT)> timer;
    std::function<void(TestPage&, int)> command;
    std::function<void(TestPage&, UINT)> sysCommand;
    std::function<void(TestPage&)> close;
    std::function<void(TestPage&)> cancel;
    std::function<void(TestPage&)> destroy;

    DialogHost& H() { return *Host(); }

    void OnInitDialog() override {
        if (init) init(*this);
    }
    bool OnMessage(UINT m, WPARAM w, LPARAM l) override { return message && message(*this, m, w, l); }
    void OnTimer(UINT id) override {
        if (timer) timer(*this, id);
    }
    void OnCommand(int id) override {
        if (command) command(*this, id);
        else Page::OnCommand(id);
    }
    void OnSysCommand(UINT id) override {
        if (sysCommand) sysCommand(*this, id);
        else Page::OnSysCommand(id);
    }
    void OnClose() override {
        if (close) close(*this);
        else Page::OnClose();
    }
    void OnCancel() override {
        if (cancel) cancel(*this);
        else Page::OnCancel();
    }
    void OnDestroy() override {
        if (destroy) destroy(*this);
    }
};

}  // namespace ui::test_support
