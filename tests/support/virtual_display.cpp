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

// The first numbers are left to people and to xvfb-run, which start from 99 downwards.
constexpr int kFirstDisplay = 120, kLastDisplay = 220;

fs::path ProgramOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "/usr/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        fs::path candidate = fs::path(folder) / name;
        if (!folder.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

// A number another X server holds, or held and left its lock behind.
bool Taken(int number) {
    std::error_code error;
    return fs::exists("/tmp/.X" + std::to_string(number) + "-lock", error) ||
           fs::exists("/tmp/.X11-unix/X" + std::to_string(number), error);
}

}  // namespace

VirtualDisplay::VirtualDisplay(const fs::path& logFolder) {
    fs::path xvfb = ProgramOnPath("Xvfb");
    if (xvfb.empty()) {
        problem_ = "no Xvfb on PATH";
        return;
    }
    for (int number = kFirstDisplay; number <= kLastDisplay && name_.empty(); ++number) {
        if (Taken(number)) continue;
        std::string display = ":" + std::to_string(number);
        auto server = std::make_unique<child::ChildProcess>(
            std::vector<std::string>{xvfb.string(), display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
            logFolder, child::Environment{}, logFolder / "xvfb.out", logFolder / "xvfb.err");
        // Up once its socket is there; an Xvfb that ends lost the number to another server.
        const fs::path socket = "/tmp/.X11-unix/X" + std::to_string(number);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (server->Running() && !fs::exists(socket) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (server->Running() && fs::exists(socket)) {
            server_ = std::move(server);
            name_ = display;
        } else {
            problem_ = "Xvfb " + display + " did not start: " + server->Result().err;
        }
    }
    if (name_.empty() && problem_.empty()) problem_ = "no free display number";
}

VirtualDisplay::~VirtualDisplay() {
    if (!server_) return;
    server_->Signal(SIGTERM);
    server_->Wait(std::chrono::seconds(10));
}

}  // namespace e2e
