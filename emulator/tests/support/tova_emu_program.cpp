#include "tova_emu_program.h"

#include <chrono>
#include <csignal>
#include <thread>

namespace tova::testing {
namespace {

// Safety limits against a hung program, not measures of anything.
constexpr auto kCommandLimit = std::chrono::minutes(2);
constexpr auto kInfoLimit = std::chrono::seconds(30);

}  // namespace

TovaEmuProgram::TovaEmuProgram(std::filesystem::path folder) : folder_(std::move(folder)) {}

std::vector<std::string> TovaEmuProgram::Command(const std::vector<std::string>& args) const {
    std::vector<std::string> all{TOVA_EMU_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

child::Outcome TovaEmuProgram::Run(const std::vector<std::string>& args, const child::Environment& environment) {
    return child::Run(Command(args), folder_, environment, kCommandLimit);
}

std::vector<std::string> TovaEmuProgram::NobodysCommand(const std::vector<std::string>& args) const {
    std::vector<std::string> all{"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
    for (const std::string& word : Command(args)) all.push_back(word);
    return all;
}

child::Outcome TovaEmuProgram::RunAsNobody(const std::vector<std::string>& args) {
    return child::Run(NobodysCommand(args), folder_, {}, kCommandLimit);
}

std::unique_ptr<child::ChildProcess> TovaEmuProgram::StartAsNobody(const std::vector<std::string>& args,
                                                                   const std::string& tag) {
    return std::make_unique<child::ChildProcess>(NobodysCommand(args), folder_, child::Environment{},
                                                 folder_ / (tag + ".out"), folder_ / (tag + ".err"));
}

std::unique_ptr<child::ChildProcess> TovaEmuProgram::Start(const std::vector<std::string>& args,
                                                           const std::string& tag,
                                                           const child::Environment& environment) {
    return std::make_unique<child::ChildProcess>(Command(args), folder_, environment,
                                                 folder_ / (tag + ".out"), folder_ / (tag + ".err"));
}

std::string TovaEmuProgram::Output(const std::string& tag) const {
    return child::ReadTextFile(folder_ / (tag + ".out")) + child::ReadTextFile(folder_ / (tag + ".err"));
}

child::Outcome TovaEmuProgram::Finish(child::ChildProcess& process) {
    bool ended = process.Wait(kCommandLimit).has_value();
    child::Outcome outcome = process.Result();
    if (!ended) {
        process.Signal(SIGKILL);
        process.Wait(kCommandLimit);
        outcome.exitCode = -1;
    }
    return outcome;
}

bool TovaEmuProgram::WaitForInfo(const std::string& state, const std::string& text) {
    auto deadline = std::chrono::steady_clock::now() + kInfoLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (Run({"info", state}).out.find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace tova::testing
