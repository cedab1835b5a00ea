// tova-emu view STATE [--grab OUT.png] [--close-after MS]: a window on a handheld that
// `tova-emu run` runs in another process, through that process's control channel.
#include <signal.h>
#include <time.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "arguments.h"
#include "commands.h"
#include "control_channel.h"
#include "handheld_status.h"
#include "state_folder.h"
#include "view_window.h"

namespace tova::emu {

namespace {

ViewWindowOpener g_opener = nullptr;

// A window polling 20 times a second must not hang on a handheld that stopped answering.
constexpr int kPollTimeoutMs = 2000;
constexpr int kActionTimeoutMs = 10000;

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

}  // namespace

void SetViewWindowOpener(ViewWindowOpener opener) {
    g_opener = opener;
}

std::optional<std::string> NoDisplayReason() {
    if (IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY")) return std::nullopt;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && std::strncmp(platform, "offscreen", 9) == 0) return std::nullopt;
    return std::string("no display to show the window on (DISPLAY and WAYLAND_DISPLAY are unset") +
           (platform && *platform ? std::string(", and QT_QPA_PLATFORM is ") + platform
                                  : std::string()) +
           "); run it where a display exists, or with QT_QPA_PLATFORM=offscreen and --grab";
}

std::unique_ptr<ViewWindow> OpenViewWindow() {
    if (g_opener == nullptr)
        throw UsageError("this tova-emu was built without Qt: it has no window");
    if (auto reason = NoDisplayReason()) throw UsageError(*reason);
    std::string error;
    std::unique_ptr<ViewWindow> window = g_opener(&error);
    if (!window) throw UsageError(error.empty() ? "no window can be opened here" : error);
    return window;
}

bool ParseViewWindowOption(const std::vector<std::string>& args, size_t* i,
                           ViewWindowOptions* options) {
    if (args[*i] == "--grab") {
        std::string file = OptionValue(args, i);
        if (file.empty()) throw UsageError("--grab needs a file name");
        options->grab = std::filesystem::absolute(file);
        return true;
    }
    if (args[*i] == "--close-after") {
        options->closeAfterMs =
            int(ParseNumberArgument(OptionValue(args, i), 86400000, "--close-after"));
        return true;
    }
    return false;
}

sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,
                  SIGXCPU, SIGXFSZ, SIGIO, SIGPWR, SIGSTKFLT})
        sigaddset(&signals, s);
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) sigaddset(&signals, s);
    return signals;
}

void BlockStopSignals() {
    sigset_t stopSignals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
}

struct StopSignalWatch::State {
    std::atomic<bool> done{false};
    std::atomic<int> signal{0};
    std::thread thread;
};

StopSignalWatch::StopSignalWatch(std::function<void(int)> onSignal)
    : state_(std::make_unique<State>()) {
    State* s = state_.get();
    s->thread = std::thread([s, onSignal = std::move(onSignal)] {
        sigset_t stopSignals = StopSignals();
        timespec tick{0, 100 * 1000 * 1000};  // how soon the watch notices it should end
        while (!s->done) {
            int signal = sigtimedwait(&stopSignals, nullptr, &tick);
            if (signal > 0) {
                s->signal = signal;
                onSignal(signal);
                return;
            }
        }
    });
}

StopSignalWatch::~StopSignalWatch() {
    state_->done = true;
    state_->thread.join();
}

int StopSignalWatch::Signal() const {
    return state_->signal;
}

int ViewCommand(const std::vector<std::string>& args) {
    if (args.empty() || args[0].rfind("--", 0) == 0)
        throw UsageError("usage: view STATE [--grab OUT.png] [--close-after MS]");
    std::filesystem::path state = args[0];
    ViewWindowOptions options;
    for (size_t i = 1; i < args.size(); ++i)
        if (!ParseViewWindowOption(args, &i, &options))
            throw UsageError("view does not know \"" + args[i] + "\"");
    if (!std::filesystem::exists(state / state_files::kConfig))
        throw CommandError("no handheld in " + state.string() + " (tova-emu create makes one)");

    // Qt starts threads of its own: they leave the stop signals to the watch below.
    BlockStopSignals();
    std::unique_ptr<ViewWindow> window = OpenViewWindow();
    HandheldView view(state.string(), [state](const std::vector<std::string>& words) {
        ControlLimits limits;
        limits.timeoutMs = kActionTimeoutMs;
        if (words.size() == 1 && words[0] == kStatusRequest)
            limits = {kLargestStatusReply, kPollTimeoutMs};
        if (words.size() == 1 && words[0] == kFrameRequest)
            limits = {kLargestFrameReply, kPollTimeoutMs};
        return SendControl(state, words, limits);
    });
    {
        ViewWindow* shown = window.get();
        StopSignalWatch watch([shown](int) { shown->Close(); });
        window->Run(view, options);
    }
    return 0;
}

}  // namespace tova::emu
