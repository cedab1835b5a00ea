// tova-emu run STATE [--link-port N] [--time-scale X] [--host-modules]
//                    [--window [--grab OUT.png] [--close-after MS]]
#include <signal.h>

#include <atomic>
#include <mutex>
#include <cstdio>
#include <memory>
#include <thread>

#include "arguments.h"
#include "commands.h"
#include "control_channel.h"
#include "emulator/files/atomic_file.h"
#include "handheld_actions.h"
#include "platform/clock/clock.h"
#include "state_folder.h"
#include "emulator/link/link_server.h"
#include "view_window.h"

namespace tova::emu {

namespace {

constexpr uint16_t kDefaultLinkPort = 4990;

// The build's host modules: in a folder of their own beside tova-emu, since the program
// folder holds the handheld's (ARM) modules of the same names.
std::filesystem::path HostModuleFolder() {
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) throw CommandError("--host-modules: cannot find tova-emu's own folder: " + ec.message());
    return self.parent_path() / "host";
}

ControlReply Handle(Machine& machine, const ActionContext& context,
                    const std::vector<std::string>& words) {
    try {
        return {ControlReply::Status::kOk, RunAction(machine, words, context)};
    } catch (const UsageError& e) {
        return {ControlReply::Status::kUsage, e.what()};
    } catch (const std::exception& e) {
        return {ControlReply::Status::kError, e.what()};
    }
}

// Power comes back after a cut (from the command line or a flash fault knob).
void RestorePower(Machine& machine, const std::atomic<bool>& stopping) {
    while (!stopping) {
        if (!machine.WaitUntilState(MachineState::kOff, 60000) || stopping) continue;
        std::printf("power cut; powering on again\n");
        std::fflush(stdout);
        try {
            machine.PowerOn();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tova-emu: the handheld cannot be powered on again: %s\n", e.what());
        }
    }
}

}  // namespace

int RunCommand(const std::vector<std::string>& args) {
    const std::string usage =
        "usage: run STATE [--link-port N] [--time-scale X] [--host-modules] [--window [--grab OUT.png] [--close-after MS]]";
    if (args.empty() || args[0].rfind("--", 0) == 0) throw UsageError(usage);
    std::filesystem::path state = args[0];
    uint16_t port = kDefaultLinkPort;
    bool windowed = false, windowOptions = false, hostModules = false;
    ViewWindowOptions viewOptions;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--window") {
            windowed = true;
        } else if (args[i] == "--host-modules") {
            hostModules = true;
        } else if (ParseViewWindowOption(args, &i, &viewOptions)) {
            windowOptions = true;
        } else if (args[i] == "--link-port") {
            port = uint16_t(ParseNumberArgument(OptionValue(args, &i), 65535, "--link-port"));
        } else if (args[i] == "--time-scale") {
            std::string v = OptionValue(args, &i);
            char* end = nullptr;
            double scale = std::strtod(v.c_str(), &end);
            if (v.empty() || *end != '\0' || !(scale >= 0.0) || scale > 1000.0)
                throw UsageError("--time-scale is a number from 0 to 1000, not \"" + v + "\"");
            SetTimeScale(scale);
        } else {
            throw UsageError("run does not know \"" + args[i] + "\"");
        }
    }
    if (windowOptions && !windowed) throw UsageError("--grab and --close-after go with --window");
    if (SendControl(state, {"info"})) throw CommandError("the handheld in " + state.string() + " is already running");

    // Every thread started from here on leaves the stop signals to sigwait below (or to
    // the window's watch), so that each of them switches the handheld off and saves it.
    BlockStopSignals();
    sigset_t stopSignals = StopSignals();

    // The window system first: when it cannot be opened nothing has been started yet.
    std::unique_ptr<ViewWindow> window;
    if (windowed) window = OpenViewWindow();

    auto machine = Machine::Open(state);
    if (hostModules) machine->SetHostModuleFolder(HostModuleFolder());
    ActionContext context{true, ""};
    machine->PowerOn();
    std::atomic<bool> stopping{false};
    std::thread powerWatch([&] { RestorePower(*machine, stopping); });
    auto endpointFile = state / state_files::kLinkEndpoint;
    std::unique_ptr<link::LinkServer> link;
    try {
        link = std::make_unique<link::LinkServer>(*machine, port);
    } catch (const std::exception& e) {
        stopping = true;
        machine->Shutdown();
        powerWatch.join();
        throw CommandError("cannot serve the link on port " + std::to_string(port) + ": " + e.what());
    }
    context.linkEndpoint = "127.0.0.1:" + std::to_string(link->Port());
    context.link = link.get();
    try {
        files::ReplaceFile(endpointFile, context.linkEndpoint + "\n");
    } catch (const files::FileError& e) {
        stopping = true;
        machine->Shutdown();
        powerWatch.join();
        throw CommandError(std::string("cannot write the link endpoint: ") + e.what());
    }
    std::printf("link endpoint %s\n", context.linkEndpoint.c_str());
    // The control channel and the window take turns at the handheld's actions.
    std::mutex actions;
    auto handle = [&](const std::vector<std::string>& words) {
        std::lock_guard lock(actions);
        return Handle(*machine, context, words);
    };
    std::unique_ptr<ControlServer> control;
    try {
        control = std::make_unique<ControlServer>(state, handle);
    } catch (...) {
        stopping = true;
        machine->Shutdown();
        powerWatch.join();
        std::error_code ignored;
        std::filesystem::remove(endpointFile, ignored);
        throw;
    }
    std::printf("running %s; Ctrl-C switches it off\n", state.string().c_str());
    std::fflush(stdout);

    int signal = 0;
    if (window) {
        HandheldView view(state.string(), [&](const std::vector<std::string>& words) {
            return std::optional<ControlReply>(handle(words));
        });
        std::atomic<int> caught{0};
        {
            ViewWindow* shown = window.get();
            StopSignalWatch watch([shown, &caught](int s) {
                caught = s;
                shown->Close();
            });
            window->Run(view, viewOptions);
        }
        signal = caught;  // read once the watch has ended: a late signal is counted too
        if (signal == 0) {
            std::printf("the window is closed; the handheld keeps running; Ctrl-C switches it off\n");
            std::fflush(stdout);
        }
    }
    if (signal == 0) sigwait(&stopSignals, &signal);
    std::printf("switching off\n");
    control.reset();  // before the link server, which its handler reaches
    link->Stop();
    link.reset();
    stopping = true;
    std::string failed;
    try {
        machine->Shutdown();
    } catch (const std::exception& e) {
        failed = e.what();
    }
    powerWatch.join();
    std::error_code ec;
    std::filesystem::remove(endpointFile, ec);
    if (!failed.empty()) {
        std::fprintf(stderr, "tova-emu: the handheld's state could not be saved in %s: %s\n",
                     state.string().c_str(), failed.c_str());
        return 1;
    }
    std::printf("state saved in %s\n", state.string().c_str());
    return 0;
}

}  // namespace tova::emu
