#include "virtual_display.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace e2e {
namespace fs = std::filesystem;

namespace {

fs::path ProgramOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "/usr/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        fs::path candidate = fs::path(folder) / name;
        if (!folder.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

}  // namespace

VirtualDisplay::VirtualDisplay(const fs::path& logFolder) {
    fs::path xvfb = ProgramOnPath("Xvfb");
    if (xvfb.empty()) {
        problem_ = "no Xvfb on PATH";
        return;
    }
    // -displayfd: the server takes the first free number itself and, once it listens,
    // writes it to its standard output, so two tests never race for one number.
    const fs::path out = logFolder / "xvfb.out";
    server_ = std::make_unique<child::ChildProcess>(
        std::vector<std::string>{xvfb.string(), "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
        logFolder, child::Environment{}, out, logFolder / "xvfb.err");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (server_->Running() && std::chrono::steady_clock::now() < deadline) {
        std::string number = child::ReadTextFile(out);
        if (!number.empty() && number.back() == '\n') {
            number.pop_back();
            name_ = ":" + number;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    problem_ = "Xvfb did not start: " + child::ReadTextFile(logFolder / "xvfb.err");
    server_.reset();
}

VirtualDisplay::~VirtualDisplay() {
    if (!server_) return;
    server_->Signal(SIGTERM);
    server_->Wait(std::chrono::seconds(10));
}

}  // namespace e2e
