// What one page window shows, whatever draws it: its controls with their texts, visibility,
// enabled state, colours and progress bars, its style, window menu, icon and running timers.
// Every change goes through here, is logged once and is then handed to the host's mirror,
// which only copies it onto its widgets; so every host logs the same transcript.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/ui/dialog_state.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/transcript.h"

namespace ui {

// The part of a control that a change touched.
enum class ControlAspect { Text, Visibility, Enabled, Colour, Progress };

class DialogModel {
public:
    using RecordSink = std::function<void(TranscriptEntry)>;

    // Told of each change after the model made it. Every hook may be left out.
    class Mirror {
    public:
        virtual void ControlChanged(const ControlState& /*control*/, ControlAspect /*aspect*/) {}
        virtual void MenuItemAppended(const WindowMenuItem& /*item*/) {}
        virtual void StyleChanged(uint32_t /*style*/) {}
        // On every request, also one that changes nothing: a window asked to show again
        // may still want to come to the front.
        virtual void ShowRequested(bool /*show*/, bool /*changed*/) {}
        virtual void IconChanged(int /*iconId*/) {}
        // Setting a running timer restarts it.
        virtual void TimerSet(UINT /*timerId*/, UINT /*periodMs*/) {}
        virtual void TimerKilled(UINT /*timerId*/) {}

    protected:
        ~Mirror() = default;
    };

    DialogModel(const DialogTemplate& dialog, uint64_t windowSerial, RecordSink record);
    void SetMirror(Mirror* mirror) { mirror_ = mirror; }

    const DialogState& State() const { return state_; }
    const ControlState* Find(int controlId) const { return state_.Find(controlId); }

    // A control the template lacks is reported and changes nothing: these return false.
    bool SetItemText(int controlId, std::string_view text);
    bool ShowItem(int controlId, bool show);
    bool EnableItem(int controlId, bool enable);
    bool SetItemTextColour(int controlId, COLORREF colour);
    // The position stays inside the range, whichever way round the range was given.
    bool SetProgressRange(int controlId, int minimum, int maximum);
    bool SetProgressPos(int controlId, int pos);

    void SetTimer(UINT timerId, UINT periodMs);
    // False when no such timer runs.
    bool KillTimer(UINT timerId);
    // A separator, then the item.
    void AppendWindowMenuItem(std::string_view text, UINT commandId);
    void ModifyStyle(uint32_t remove, uint32_t add);
    void ShowWindow(bool show);
    void SetIcon(int iconId);

    void Record(EntryKind kind, int control = 0, int64_t value = 0, int64_t value2 = 0,
                std::string text = {}, std::string detail = {}) const;

private:
    ControlState* Control(int controlId, const char* operation);
    // Sets one field of a control; a real change is logged by `log` and mirrored.
    template <typename Value, typename Log>
    bool ChangeControl(int controlId, const char* operation, Value ControlState::*field, Value value,
                       ControlAspect aspect, Log&& log);
    void Changed(const ControlState& control, ControlAspect aspect) {
        if (mirror_) mirror_->ControlChanged(control, aspect);
    }

    DialogState state_;
    RecordSink record_;
    Mirror* mirror_ = nullptr;
};

}  // namespace ui
