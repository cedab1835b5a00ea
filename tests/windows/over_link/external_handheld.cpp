#include "external_handheld.h"

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "desktop/device/link.h"
#include "desktop/device/model_flag.h"
#include "desktop/device/program_folder.h"
#include "platform/clock/clock.h"
#include "platform/rapi/rapi.h"

namespace over_link {
namespace {

std::string g_programPath;

size_t ProgramPathInFolder(char* buffer, size_t capacity) {
    size_t n = std::min(g_programPath.size(), capacity - 1);
    std::memcpy(buffer, g_programPath.data(), n);
    buffer[n] = '\0';
    return n;
}

// A Linux path as this program names it: Wine's drive Z: is the Linux root.
std::string FromLinux(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

std::string FirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

}  // namespace

void RecordingWindow::PostMessage(ui::UINT message, ui::WPARAM, ui::LPARAM lParam) {
    std::lock_guard lock(mutex_);
    messages_.emplace_back(message, lParam);
}

std::vector<ui::LPARAM> RecordingWindow::Values(ui::UINT message) const {
    std::lock_guard lock(mutex_);
    std::vector<ui::LPARAM> values;
    for (const auto& [kind, value] : messages_)
        if (kind == message) values.push_back(value);
    return values;
}

void ExternalHandheldTest::SetUp() {
    const char* dir = std::getenv("TOVA_HANDHELD_DIR");
    ASSERT_TRUE(dir && *dir) << "TOVA_HANDHELD_DIR names the folder of tests/windows/handheld's handheld";
    folder_ = FromLinux(dir) + "\\";
    std::string endpoint = FirstLine(folder_ + "state\\link.endpoint");
    ASSERT_FALSE(endpoint.empty()) << "no link endpoint in " << folder_ << "state";
    rapi::SetEndpoint(endpoint);
    g_programPath = folder_ + "program\\setup.exe";
    SetProgramPathReader(ProgramPathInFolder);

    win32::InitializeCriticalSection(&g_csRapi);
    connected_ = true;
    ASSERT_EQ(CeRapiInit(), S_OK) << "no handheld at " << endpoint;
    g_bConnected = 1;
    g_bAdvancedModel = 1;  // the handheld tests/windows/handheld makes
}

void ExternalHandheldTest::TearDown() {
    g_bConnected = 0;
    if (connected_) {
        CeRapiUninit();
        win32::DeleteCriticalSection(&g_csRapi);
        connected_ = false;
    }
    SetProgramPathReader(nullptr);
    rapi::SetEndpoint("");
    g_bAdvancedModel = 0;
    tova::SetTimeScale(1);
}

}  // namespace over_link
