// tova-emu: create, run, change and inspect an emulated handheld kept in a state folder.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "emulator/state_error.h"
#include "view_window.h"
#if TOVA_EMU_WITH_QT
#include "qt/view_window_qt.h"
#endif

int main(int argc, char** argv) {
    using namespace tova::emu;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fprintf(stderr, "tova-emu: no command; see tova-emu --help\n");
        return 2;
    }
#if TOVA_EMU_WITH_QT
    SetViewWindowOpener(&OpenQtViewWindow);
#endif
    std::string command = args[0];
    args.erase(args.begin());
    try {
        if (command == "--help" || command == "-h" || command == "help") {
            std::fputs(kHelpText, stdout);
            return 0;
        }
        if (command == "create") return CreateCommand(args);
        if (command == "run") return RunCommand(args);
        if (command == "view") return ViewCommand(args);
        if (command == "set" || command == "power-cut" || command == "reset" ||
            command == "screenshot" || command == "dump-flash" || command == "info")
            return HandheldCommand(command, args);
        throw UsageError("unknown command \"" + command + "\"; see tova-emu --help");
    } catch (const UsageError& e) {
        std::fprintf(stderr, "tova-emu: %s\n", e.what());
        return 2;
    } catch (const CommandError& e) {
        std::fprintf(stderr, "tova-emu: %s\n", e.what());
        return 1;
    } catch (const tova::StateError& e) {
        std::fprintf(stderr, "tova-emu: %s\n", e.what());
        return 1;
    } catch (const std::exception& e) {
        // Whatever a command did not foresee still ends in a message, never an abort.
        std::fprintf(stderr, "tova-emu: %s\n", e.what());
        return 1;
    }
}
