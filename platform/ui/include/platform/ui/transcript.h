// What happened on a host without a screen, in order: pages opened and their results,
// every change to a control, timers, message boxes and what the user did. Safe to read
// from any thread while pages run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace ui {

enum class EntryKind {
    PageOpened,     // text: caption
    PageShown,
    PageHidden,
    PageEnded,      // value: result
    ItemText,       // control, text
    ItemShown,      // control
    ItemHidden,     // control
    ItemEnabled,    // control
    ItemDisabled,   // control
    ItemColour,     // control, value: COLORREF
    ProgressRange,  // control, value: minimum, value2: maximum
    ProgressPos,    // control, value: position
    TimerSet,       // value: timer id, value2: period ms
    TimerKilled,    // value: timer id
    StyleChanged,   // value: new style
    MenuItem,       // value: command id, text
    IconSet,        // value: icon id
    MessageBox,     // text: caption, detail: text; page 0 when it has no owner
    UserPress,      // control, text: button text
    UserClose,
    UserEscape,
    UserEnter,
    UserSysCommand,  // value: command id
    UserRefused,     // an action the window did not allow; text: why
    Error,           // a page asked for something the window does not have; text
};

struct TranscriptEntry {
    EntryKind kind;
    int page = 0;     // template id of the window concerned
    int control = 0;  // control id where one is concerned
    int64_t value = 0;
    int64_t value2 = 0;
    std::string text;
    std::string detail;
};

// One line of text for an entry, e.g. `page 130: text 1016 "Model : ..."`.
std::string FormatEntry(const TranscriptEntry& entry);

struct MessageBoxInfo;

class Transcript {
public:
    void Add(TranscriptEntry entry);
    // Also write every entry as it is added (nullptr: stop).
    void EchoTo(std::FILE* out);

    std::vector<TranscriptEntry> Entries() const;
    std::string Text() const;  // every entry formatted, one per line
    void Print(std::FILE* out) const;
    void Clear();

    // Template ids of the pages in the order they opened.
    std::vector<int> PagesOpened() const;
    // Results of the pages in the order they ended, as (template id, result).
    std::vector<std::pair<int, int>> PageResults() const;
    std::vector<MessageBoxInfo> MessageBoxes() const;
    // Entries of one kind, optionally only those about one control of one page.
    std::vector<TranscriptEntry> Find(EntryKind kind, int page = 0, int control = 0) const;

private:
    mutable std::mutex mutex_;
    std::vector<TranscriptEntry> entries_;
    std::FILE* echo_ = nullptr;
};

}  // namespace ui
