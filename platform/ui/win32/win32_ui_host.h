// The dialog toolkit on Win32: pages run as modal dialogs (DialogBoxIndirectParamW) on the
// calling thread; message boxes are MessageBoxW. A driver may play the user, a transcript
// records what happened in the headless host's lines, and every page and message box may
// be pictured.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/dialog_state.h"
#include "platform/ui/driver.h"
#include "platform/ui/transcript.h"
#include "platform/ui/ui_host.h"
#include "platform/ui/win32/win32_host.h"
#include "win32_screenshots.h"

namespace ui::win32 {

class Win32Dialog;

class Win32UiHost : public UiHost {
public:
    explicit Win32UiHost(const Win32HostOptions& options);
    ~Win32UiHost() override;

    int RunPage(Page& page) override;
    void MessageBox(std::string_view text, std::string_view caption) override;

    // Host side, used by its windows.
    int RunModal(Page& page);
    void ShowMessageBox(Win32Dialog* owner, std::string_view text, std::string_view caption);
    // Something may have changed: the driver is asked once the queue is idle.
    void NoteChange();
    void AskDriver();
    void PageShown(Win32Dialog& page);
    void PageClosing(Win32Dialog& page);
    void Record(const TranscriptEntry& entry);
    Win32Dialog* Top() const { return open_.empty() ? nullptr : open_.back(); }

    // The dialog procedure of every page window.
    static intptr_t __stdcall DialogProc(void* window, unsigned message, uintptr_t wParam, intptr_t lParam);

private:
    void Perform(Win32Dialog& top, const UserAction& action);

    Driver* driver_;
    Transcript* transcript_;
    std::unique_ptr<Screenshots> screenshots_;
    std::vector<Win32Dialog*> open_;
    uint64_t nextSerial_ = 1;
    int messageBoxDepth_ = 0;
    bool askPending_ = false;
};

// Messages of the host's own, below the pages' WM_APP range.
inline constexpr UINT kRunQueuedMessage = 0x0400 + 0x100;  // WM_USER + 0x100
inline constexpr UINT kAskDriverMessage = 0x0400 + 0x101;
// The timer that brings the driver back after the pause it asked for.
inline constexpr UINT kDriverTimerId = 0x7FF0;

// A nominal period on the scaled clock as a Win32 timer interval, in real milliseconds
// (at least 1: 0 would be taken as "the shortest the system has").
UINT ScaledIntervalMs(uint64_t nominalMs);

}  // namespace ui::win32
