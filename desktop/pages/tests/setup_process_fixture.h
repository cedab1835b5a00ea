// setup run as a process from a program folder of its own, with no display, against the
// handheld the wizard fixture emulates in this test process. A test binary using it
// defines SETUP_PROGRAM_FILE, the setup program this build made.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "child_process.h"
#include "wizard_fixture.h"

namespace wizard_test {

class SetupProcessTest : public WizardTest {
protected:
    // setup beside its companion files, as installed.
    std::filesystem::path InstallSetup() {
        std::filesystem::path program = ProgramFolder() / "setup";
        std::filesystem::copy_file(SETUP_PROGRAM_FILE, program);
        return program;
    }
    std::string Endpoint() { return "TOVA_RAPI=127.0.0.1:" + std::to_string(Server().Port()); }
    // More room than the in-process handheld's scale: setup checks the link once, 1000 ms
    // (scaled) after starting it, and a loaded machine must still connect within that.
    static std::string Scale() { return "TOVA_TIME_SCALE=0.05"; }

    // Runs `program` with no arguments in `folder`, its environment being this process's
    // less every display setting and with `set` added.
    static child::Outcome RunSetup(const std::filesystem::path& program, const std::filesystem::path& folder,
                                   const std::vector<std::string>& set) {
        return child::Run({program.string()}, folder, {set, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}});
    }
};

}  // namespace wizard_test
