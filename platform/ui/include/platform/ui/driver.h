// The stand-in for the user of a host without a screen: it decides which buttons to
// press and when to dismiss message boxes.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "platform/ui/dialog_state.h"
#include "platform/ui/message_target.h"

namespace ui {

struct UserAction {
    enum class Kind {
        None,        // nothing now; ask again after the page's next change
        Wait,        // nothing now; ask again after `id` nominal ms even if nothing changes
        Press,       // press push button `id` (only if visible and enabled)
        Close,       // the close box (only if the window has one)
        Escape,      // the Escape key
        Enter,       // the Enter key (presses the default button if it can be pressed)
        SysCommand,  // window-menu item `id` (only if the menu has it)
    };
    Kind kind = Kind::None;
    int64_t id = 0;

    static UserAction None() { return {}; }
    static UserAction Wait(uint64_t ms) { return {Kind::Wait, int64_t(ms)}; }
    static UserAction Press(int controlId) { return {Kind::Press, controlId}; }
    static UserAction Close() { return {Kind::Close, 0}; }
    static UserAction Escape() { return {Kind::Escape, 0}; }
    static UserAction Enter() { return {Kind::Enter, 0}; }
    static UserAction SysCommand(UINT commandId) { return {Kind::SysCommand, commandId}; }
};

struct MessageBoxInfo {
    int ownerTemplateId = 0;  // 0: no owner
    std::string caption;
    std::string text;
};

class Driver {
public:
    virtual ~Driver() = default;
    // The page on top has handled everything that was waiting for it; called on the
    // page's thread after it opens and after each change.
    virtual UserAction OnPageIdle(const DialogState& page) = 0;
    // A message box is up; returns how many nominal ms it stays up before OK is pressed
    // (its owner keeps receiving timers and posted messages meanwhile).
    virtual uint64_t OnMessageBox(const MessageBoxInfo& box) { return 0; }
};

// Presses each page's go-on button ("Next", "Agree", "Continue", the refusal page's
// "OK", the about box's "OK") once, as soon as it is visible and enabled, and answers
// every message box with OK at once. Pages without one (progress) are left to end
// themselves.
class UnattendedDriver : public Driver {
public:
    UserAction OnPageIdle(const DialogState& page) override;
    // The go-on button of a template, 0 if it has none.
    static int GoOnButton(int templateId);

private:
    uint64_t pressedWindow_ = 0;  // serial of the window whose button was pressed
};

// A test's user: a queue of steps, each acting on one template when it is possible
// (a press waits until its button is visible and enabled). Pages with no pending step
// get the unattended behaviour unless that is turned off. Every message box is
// remembered and kept up for the time the message-box hook returns.
class ScriptedDriver : public Driver {
public:
    ScriptedDriver& Then(int templateId, UserAction action);
    void SetUnattendedFallback(bool on) { fallback_ = on; }
    void SetMessageBoxHook(std::function<uint64_t(const MessageBoxInfo&)> hook) {
        hook_ = std::move(hook);
    }
    bool Done() const { return steps_.empty(); }

    UserAction OnPageIdle(const DialogState& page) override;
    uint64_t OnMessageBox(const MessageBoxInfo& box) override;

private:
    struct Step {
        int templateId;
        UserAction action;
    };
    std::deque<Step> steps_;
    bool fallback_ = true;
    UnattendedDriver unattended_;
    std::function<uint64_t(const MessageBoxInfo&)> hook_;
};

// Whether `action` can be carried out on `page` as it stands (a disabled button cannot
// be pressed, a window without close box cannot be closed with it).
bool ActionPossible(const DialogState& page, const UserAction& action);

}  // namespace ui
