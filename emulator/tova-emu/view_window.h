// The window of `tova-emu view` and `tova-emu run --window`, as the commands see it: a
// toolkit-neutral interface that the Qt build fills in (qt/view_window_qt.h). A build
// without Qt has no opener, and both commands then say so and exit 2.
#pragma once

#include <signal.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "view_model.h"

namespace tova::emu {

struct ViewWindowOptions {
    // A picture of the whole window, written (replaced atomically) after each poll that
    // changed what it shows; empty: none.
    std::filesystem::path grab;
    // Closes the window by itself this many real milliseconds after it shows, as if the
    // person had closed it; negative: never.
    int closeAfterMs = -1;
};

class ViewWindow {
  public:
    virtual ~ViewWindow() = default;
    // Shows the window for `view`, polls it every HandheldView::kPollIntervalMs, and returns
    // once the window is closed. Closing it does nothing to the handheld.
    virtual void Run(HandheldView& view, const ViewWindowOptions& options) = 0;
    // From any thread, before or during Run: closes the window as if by hand.
    virtual void Close() = 0;
};

// Opens the window system; null with the reason in `error` when it cannot. When the
// toolkit itself fails to open its platform, the opener prints why and ends the process
// with exit status 2 (the toolkit would otherwise abort it), so call it before starting
// anything that must be stopped in order.
using ViewWindowOpener = std::unique_ptr<ViewWindow> (*)(std::string* error);
void SetViewWindowOpener(ViewWindowOpener opener);

// Why no window can be shown here, checked before the toolkit is asked: nullopt when a
// display is named (DISPLAY or WAYLAND_DISPLAY) or QT_QPA_PLATFORM is offscreen.
std::optional<std::string> NoDisplayReason();

// The window for the command line: the reason it cannot be had is a UsageError (exit 2).
std::unique_ptr<ViewWindow> OpenViewWindow();

// Takes --grab FILE and --close-after MS at args[*i]; false when args[*i] is neither.
bool ParseViewWindowOption(const std::vector<std::string>& args, size_t* i,
                           ViewWindowOptions* options);

// The stop signals (StopSignals()), which the caller has blocked in every thread, watched by a thread of
// their own for as long as the watch lives: the first that comes is handed to `onSignal`.
class StopSignalWatch {
  public:
    explicit StopSignalWatch(std::function<void(int)> onSignal);
    ~StopSignalWatch();
    StopSignalWatch(const StopSignalWatch&) = delete;
    StopSignalWatch& operator=(const StopSignalWatch&) = delete;
    // The signal that came, 0 while none has.
    int Signal() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Every signal that would end the program without its cleanup and that it can catch:
// SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,
// SIGXCPU, SIGXFSZ, SIGIO, SIGPWR, SIGSTKFLT and the real-time signals. Each switches the
// handheld off as Ctrl-C does. (The faults a program raises on itself, such as SIGSEGV, and
// SIGKILL are not among them: the flash survives those in its file.)
sigset_t StopSignals();
// Blocks the stop signals in this thread and every thread it starts from now on.
void BlockStopSignals();

}  // namespace tova::emu
