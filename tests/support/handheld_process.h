// An emulated handheld driven only through the tova-emu program: created in a state folder
// of its own, run in a child process with its link on a free port, changed, looked at and
// switched off with tova-emu's commands, exactly as a user at a terminal would.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"

namespace e2e {

class HandheldProcess {
public:
    explicit HandheldProcess(std::filesystem::path stateFolder);
    ~HandheldProcess();

    // tova-emu create with these options; a failure fails the test.
    void Create(const std::vector<std::string>& options = {});
    // tova-emu run on a free port; returns once the handheld has booted.
    void Run();
    // Ctrl-C to tova-emu run, and its end.
    void SwitchOff();
    // SIGKILL to tova-emu run, which can neither save nor clean up, and its end.
    void Kill();

    // tova-emu COMMAND STATE WORDS...
    child::Outcome Command(const std::string& command, const std::vector<std::string>& words = {});
    // The same, which must succeed; returns its output.
    std::string Must(const std::string& command, const std::vector<std::string>& words = {});

    // `info` as "name: value" pairs, and the store listing (one handheld path each, sorted).
    struct Info {
        std::map<std::string, std::string> fields;
        std::vector<std::string> store;
        std::string text;
    };
    Info ReadInfo();

    // Waits until the handheld runs booted with its link up, or `limit` (real time) passes.
    bool WaitUntilLinked(std::chrono::milliseconds limit = std::chrono::minutes(2));
    bool WaitUntilBooted(std::chrono::milliseconds limit = std::chrono::minutes(2));
    // Flash bytes from an offset counted from the start of flash (0xA0000000).
    std::vector<uint8_t> Flash(uint32_t offset, uint32_t length);
    // The link endpoint of the running handheld, as setup's TOVA_RAPI wants it.
    std::string Endpoint() const { return endpoint_; }
    // What tova-emu run printed so far.
    std::string RunOutput() const;
    const std::filesystem::path& StateFolder() const { return state_; }

private:
    bool WaitUntil(bool linked, std::chrono::milliseconds limit = std::chrono::minutes(2));

    std::filesystem::path state_;
    std::unique_ptr<child::ChildProcess> run_;
    std::string endpoint_;
};

}  // namespace e2e
