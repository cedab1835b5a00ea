#include "handheld_process.h"

#include <signal.h>

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "program_files.h"

namespace e2e {
namespace {

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t"), last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

child::Environment TimeScale() { return {{std::string("TOVA_TIME_SCALE=") + kHandheldTimeScale}, {}}; }

}  // namespace

HandheldProcess::HandheldProcess(std::filesystem::path stateFolder) : state_(std::move(stateFolder)) {}

HandheldProcess::~HandheldProcess() {
    if (run_ && run_->Running()) SwitchOff();
}

child::Outcome HandheldProcess::Command(const std::string& command, const std::vector<std::string>& words) {
    std::vector<std::string> argv = {BuiltProgram("tova-emu").string(), command, state_.string()};
    argv.insert(argv.end(), words.begin(), words.end());
    return child::Run(argv, state_.parent_path(), TimeScale());
}

std::string HandheldProcess::Must(const std::string& command, const std::vector<std::string>& words) {
    child::Outcome outcome = Command(command, words);
    EXPECT_EQ(outcome.exitCode, 0) << "tova-emu " << command << ": " << outcome.out << outcome.err;
    return outcome.out;
}

void HandheldProcess::Create(const std::vector<std::string>& options) { Must("create", options); }

void HandheldProcess::Run() {
    std::filesystem::remove(state_ / "link.endpoint");
    // --host-modules is for a handheld created with --arm-modules off; one that runs ARM
    // code (the default) never loads host code with it.
    std::vector<std::string> argv = {BuiltProgram("tova-emu").string(), "run", state_.string(), "--host-modules",
                                     "--link-port", "0", "--time-scale", kHandheldTimeScale};
    run_ = std::make_unique<child::ChildProcess>(argv, state_.parent_path(), TimeScale(),
                                                 state_.parent_path() / "tova-emu-run.out",
                                                 state_.parent_path() / "tova-emu-run.err");
    ASSERT_TRUE(WaitUntil(false)) << RunOutput() << ReadInfo().text;
    endpoint_ = Trim(child::ReadTextFile(state_ / "link.endpoint"));
    ASSERT_FALSE(endpoint_.empty());
}

void HandheldProcess::SwitchOff() {
    if (!run_) return;
    run_->Signal(SIGINT);
    std::optional<int> code = run_->Wait(std::chrono::minutes(1));
    EXPECT_EQ(code, 0) << RunOutput();
    run_.reset();
}

void HandheldProcess::Kill() {
    if (!run_) return;
    run_->Signal(SIGKILL);
    std::optional<int> code = run_->Wait(std::chrono::minutes(1));
    EXPECT_EQ(code, 128 + SIGKILL) << RunOutput();
    run_.reset();
}

std::string HandheldProcess::RunOutput() const {
    auto folder = state_.parent_path();
    return child::ReadTextFile(folder / "tova-emu-run.out") + child::ReadTextFile(folder / "tova-emu-run.err");
}

HandheldProcess::Info HandheldProcess::ReadInfo() {
    Info info;
    info.text = Command("info").out;
    std::istringstream lines(info.text);
    bool inStore = false;
    for (std::string line; std::getline(lines, line);) {
        if (inStore && line.rfind("  ", 0) == 0) {
            std::string entry = Trim(line);
            info.store.push_back(entry.substr(0, entry.find("  ")));
            continue;
        }
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        inStore = name == "store";
        info.fields[name] = Trim(line.substr(colon + 1));
    }
    std::sort(info.store.begin(), info.store.end());
    return info;
}

bool HandheldProcess::WaitUntilLinked(std::chrono::milliseconds limit) { return WaitUntil(true, limit); }

bool HandheldProcess::WaitUntilBooted(std::chrono::milliseconds limit) { return WaitUntil(false, limit); }

bool HandheldProcess::WaitUntil(bool linked, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (run_ && !run_->Running()) return false;
        Info info = ReadInfo();
        if (info.fields["running"] == "yes" && info.fields["state"] == "booted" &&
            (!linked || info.fields["link"].find("(up)") != std::string::npos)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::vector<uint8_t> HandheldProcess::Flash(uint32_t offset, uint32_t length) {
    auto file = state_.parent_path() / "flash-dump.bin";
    Must("dump-flash", {file.string(), "--offset", std::to_string(offset), "--length", std::to_string(length)});
    std::string bytes = child::ReadTextFile(file);
    std::filesystem::remove(file);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace e2e
