#include "platform/ui/transcript.h"

#include <cinttypes>

#include "platform/ui/driver.h"

namespace ui {
namespace {

// Quotes a text on one line, so that line feeds in page texts stay visible as "\n".
std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '"') out += "\\\"";
        else out += c;
    }
    return out + "\"";
}

std::string Number(int64_t value) { return std::to_string(value); }

std::string Hex(int64_t value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%08" PRIx64, uint64_t(value) & 0xFFFFFFFFu);
    return buffer;
}

std::string Describe(const TranscriptEntry& e) {
    const std::string control = Number(e.control);
    switch (e.kind) {
    case EntryKind::PageOpened: return "opened " + Quote(e.text);
    case EntryKind::PageShown: return "window shown";
    case EntryKind::PageHidden: return "window hidden";
    case EntryKind::PageEnded: return "ended with " + Number(e.value);
    case EntryKind::ItemText: return "text " + control + " " + Quote(e.text);
    case EntryKind::ItemShown: return "show " + control;
    case EntryKind::ItemHidden: return "hide " + control;
    case EntryKind::ItemEnabled: return "enable " + control;
    case EntryKind::ItemDisabled: return "disable " + control;
    case EntryKind::ItemColour: return "colour " + control + " " + Hex(e.value);
    case EntryKind::ProgressRange:
        return "range " + control + " " + Number(e.value) + ".." + Number(e.value2);
    case EntryKind::ProgressPos: return "position " + control + " " + Number(e.value);
    case EntryKind::TimerSet: return "timer " + Number(e.value) + " every " + Number(e.value2) + " ms";
    case EntryKind::TimerKilled: return "timer " + Number(e.value) + " stopped";
    case EntryKind::StyleChanged: return "style " + Hex(e.value);
    case EntryKind::MenuItem: return "window menu " + Number(e.value) + " " + Quote(e.text);
    case EntryKind::IconSet: return "icon " + Number(e.value);
    case EntryKind::MessageBox: return "message box " + Quote(e.text) + ": " + Quote(e.detail);
    case EntryKind::UserPress: return "user presses " + control + " " + Quote(e.text);
    case EntryKind::UserClose: return "user closes the window";
    case EntryKind::UserEscape: return "user presses Escape";
    case EntryKind::UserEnter: return "user presses Enter";
    case EntryKind::UserSysCommand: return "user chooses window-menu item " + Number(e.value);
    case EntryKind::UserRefused: return "not possible: " + e.text;
    case EntryKind::Error: return "error: " + e.text;
    }
    return "?";
}

}  // namespace

std::string FormatEntry(const TranscriptEntry& entry) {
    std::string prefix = entry.page ? "page " + Number(entry.page) + ": " : "";
    return prefix + Describe(entry);
}

void Transcript::Add(TranscriptEntry entry) {
    std::lock_guard lock(mutex_);
    if (echo_) {
        std::fprintf(echo_, "%s\n", FormatEntry(entry).c_str());
        std::fflush(echo_);
    }
    entries_.push_back(std::move(entry));
}

void Transcript::EchoTo(std::FILE* out) {
    std::lock_guard lock(mutex_);
    echo_ = out;
}

std::vector<TranscriptEntry> Transcript::Entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::string Transcript::Text() const {
    std::string text;
    for (const TranscriptEntry& entry : Entries()) text += FormatEntry(entry) + "\n";
    return text;
}

void Transcript::Print(std::FILE* out) const { std::fputs(Text().c_str(), out); }

void Transcript::Clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

std::vector<int> Transcript::PagesOpened() const {
    std::vector<int> pages;
    for (const TranscriptEntry& e : Entries())
        if (e.kind == EntryKind::PageOpened) pages.push_back(e.page);
    return pages;
}

std::vector<std::pair<int, int>> Transcript::PageResults() const {
    std::vector<std::pair<int, int>> results;
    for (const TranscriptEntry& e : Entries())
        if (e.kind == EntryKind::PageEnded) results.emplace_back(e.page, int(e.value));
    return results;
}

std::vector<MessageBoxInfo> Transcript::MessageBoxes() const {
    std::vector<MessageBoxInfo> boxes;
    for (const TranscriptEntry& e : Entries())
        if (e.kind == EntryKind::MessageBox) boxes.push_back({e.page, e.text, e.detail});
    return boxes;
}

std::vector<TranscriptEntry> Transcript::Find(EntryKind kind, int page, int control) const {
    std::vector<TranscriptEntry> found;
    for (const TranscriptEntry& e : Entries()) {
        if (e.kind != kind) continue;
        if (page != 0 && e.page != page) continue;
        if (control != 0 && e.control != control) continue;
        found.push_back(e);
    }
    return found;
}

}  // namespace ui
