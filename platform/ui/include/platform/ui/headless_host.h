// The dialog toolkit without a screen: every page window is an in-memory model of its
// controls, its timers run on the scaled clock in a message loop on the page's thread,
// a Driver plays the user and a Transcript records what happened.
#pragma once

#include <condition_variable>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/ui/dialog_state.h"
#include "platform/ui/driver.h"
#include "platform/ui/transcript.h"
#include "platform/ui/ui_host.h"

namespace ui {

class HeadlessDialog;

class HeadlessUiHost : public UiHost {
public:
    explicit HeadlessUiHost(Driver& driver);
    explicit HeadlessUiHost(std::unique_ptr<Driver> driver);
    ~HeadlessUiHost() override;

    int RunPage(Page& page) override;
    void MessageBox(std::string_view text, std::string_view caption) override;

    Transcript& GetTranscript() { return transcript_; }
    // The state in which the last window of `templateId` closed.
    std::optional<DialogState> LastState(int templateId) const;

    // Host side, used by its windows.
    int RunModal(Page& page);
    void ShowMessageBox(HeadlessDialog* owner, std::string_view text, std::string_view caption);
    void Wake();

private:
    bool DispatchOne();
    void WaitForWork(std::optional<std::chrono::steady_clock::time_point> until);
    void RunUntil(std::chrono::steady_clock::time_point deadline);
    void Perform(HeadlessDialog& top, const UserAction& action);

    std::unique_ptr<Driver> ownedDriver_;
    Driver& driver_;
    Transcript transcript_;
    std::vector<HeadlessDialog*> open_;  // page thread only; last is on top
    uint64_t nextSerial_ = 1;
    int messageBoxDepth_ = 0;

    std::mutex wakeMutex_;
    std::condition_variable wakeCv_;
    bool woken_ = false;

    mutable std::mutex stateMutex_;
    std::map<int, DialogState> lastStates_;
};

// The host of an unattended run: the UnattendedDriver plays the user and every transcript
// entry is also written to `echo` (when not nullptr) as it happens.
std::unique_ptr<HeadlessUiHost> MakeUnattendedHost(std::FILE* echo);

}  // namespace ui
