#include "handheld_link_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "desktop/device/link.h"
#include "desktop/device/model_flag.h"
#include "desktop/device/program_folder.h"
#include "platform/clock/clock.h"
#include "platform/rapi/rapi.h"
#include "emulator/object_store.h"

namespace transfer_testing {

namespace fs = std::filesystem;

namespace {
std::string g_programPath;

size_t FixtureProgramPath(char* buffer, size_t capacity) {
    size_t n = std::min(g_programPath.size(), capacity - 1);
    std::memcpy(buffer, g_programPath.data(), n);
    buffer[n] = '\0';
    return n;
}
}  // namespace

void RecordingWindow::PostMessage(ui::UINT message, ui::WPARAM wParam, ui::LPARAM lParam) {
    Message m{message, wParam, lParam, tova::NominalNowMs()};
    size_t count;
    {
        std::lock_guard lock(mutex_);
        messages_.push_back(m);
        count = messages_.size();
    }
    if (onPost) onPost(m, count);
}

std::vector<RecordingWindow::Message> RecordingWindow::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<ui::LPARAM> RecordingWindow::Values(ui::UINT message) const {
    std::vector<ui::LPARAM> values;
    for (const Message& m : Messages())
        if (m.message == message) values.push_back(m.lParam);
    return values;
}

std::vector<uint8_t> ReadHostFile(const fs::path& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void WriteHostFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> PatternBytes(size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = uint8_t((i * 131 + (i >> 8) * 7 + seed) & 0xFF);
    return bytes;
}

romimage::RomSpec SpecFor(bool advanced, const char* buildDigits) {
    romimage::RomSpec spec;
    spec.advanced = advanced;
    std::memcpy(spec.buildDigits, buildDigits, 9);
    std::memcpy(spec.language, "EN", 3);
    spec.versionText = u"v1.075";
    return spec;
}

std::string HandheldOnLink::Start(const fs::path& stateFolder, bool advanced) {
    tova::MachineConfig config;
    config.model = advanced ? tova::Model::kAdvanced : tova::Model::kBasic;
    machine_ = tova::Machine::Create(stateFolder, config,
                                     romimage::BuildSegments(SpecFor(advanced, "00000001")));
    if (!machine_->Boot()) return "the handheld did not boot";
    server_ = std::make_unique<tova::link::LinkServer>(*machine_, 0);
    rapi::SetEndpoint("127.0.0.1:" + std::to_string(server_->Port()));
    win32::InitializeCriticalSection(&g_csRapi);
    connected_ = true;
    if (CeRapiInit() != S_OK) return "CeRapiInit failed";
    g_bConnected = 1;
    g_bAdvancedModel = advanced ? 1 : 0;
    return {};
}

void HandheldOnLink::Stop() {
    g_bConnected = 0;
    if (connected_) {
        CeRapiUninit();
        win32::DeleteCriticalSection(&g_csRapi);
        connected_ = false;
    }
    if (server_) server_->Stop();
    server_.reset();
    if (machine_) machine_->Shutdown();
    machine_.reset();
    rapi::SetEndpoint("");
    g_bAdvancedModel = 0;
}

void HandheldLinkTest::StartHandheld(bool advanced) {
    // Parameterised test names hold a '/': keep the folder one level deep.
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '-');
    root_ = fs::temp_directory_path() / ("tova-transfer-" + std::to_string(::getpid()) + "-" + name);
    fs::remove_all(root_);
    programFolder_ = root_ / "program";
    fs::create_directories(programFolder_);
    SetProgramPath((programFolder_ / "setup").string());
    std::string problem = handheld_.Start(root_ / "handheld", advanced);
    ASSERT_EQ(problem, "");
    machine_ = &handheld_.Machine();
}

void HandheldLinkTest::TearDown() {
    handheld_.Stop();
    machine_ = nullptr;
    SetProgramPathReader(nullptr);
    tova::SetTimeScale(0);
    std::error_code ec;
    fs::remove_all(root_, ec);
}

void UseProgramPath(const std::string& path) {
    g_programPath = path;
    SetProgramPathReader(FixtureProgramPath);
}

void HandheldLinkTest::SetProgramPath(const std::string& path) { UseProgramPath(path); }

std::vector<uint8_t> HandheldLinkTest::HandheldFile(std::u16string_view path) {
    std::optional<std::vector<uint8_t>> bytes = machine_->Store().ReadFile(path);
    EXPECT_TRUE(bytes.has_value()) << tova::ToUtf8(path) << " is not on the handheld";
    return bytes.value_or(std::vector<uint8_t>{});
}

bool HandheldLinkTest::HandheldFileExists(std::u16string_view path) {
    return machine_->Store().Exists(path);
}

void HandheldLinkTest::PutHandheldFile(std::u16string_view path, const std::vector<uint8_t>& bytes) {
    ASSERT_TRUE(machine_->Store().WriteFile(path, bytes)) << tova::ToUtf8(path);
}

}  // namespace transfer_testing
