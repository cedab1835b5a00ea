// tova-emu as a user runs it: each command a process of its own, working in a test's folder,
// its output captured.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"

namespace tova::testing {

class TovaEmuProgram {
public:
    // Commands run in `folder`; the output of started ones is kept there as <tag>.out/.err.
    explicit TovaEmuProgram(std::filesystem::path folder);

    // Runs one command to its end, in this process's environment edited by `environment`.
    child::Outcome Run(const std::vector<std::string>& args, const child::Environment& environment = {});
    // Runs one command as the user "nobody" (through /usr/bin/setpriv, so this process must be
    // root).
    child::Outcome RunAsNobody(const std::vector<std::string>& args);
    // Starts a command that keeps running as the user "nobody", as RunAsNobody runs one.
    std::unique_ptr<child::ChildProcess> StartAsNobody(const std::vector<std::string>& args,
                                                       const std::string& tag);
    // Starts a command that keeps running, such as `run STATE`.
    std::unique_ptr<child::ChildProcess> Start(const std::vector<std::string>& args,
                                               const std::string& tag,
                                               const child::Environment& environment = {});
    // What a started command printed so far (its <tag>.out and <tag>.err).
    std::string Output(const std::string& tag) const;
    // Waits for a started command to end; one that has not ended is killed and reported
    // with exit code -1.
    static child::Outcome Finish(child::ChildProcess& process);

    // Polls `info STATE` (each poll a process) until its output holds `text`.
    bool WaitForInfo(const std::string& state, const std::string& text);

private:
    std::vector<std::string> Command(const std::vector<std::string>& args) const;
    std::vector<std::string> NobodysCommand(const std::vector<std::string>& args) const;

    std::filesystem::path folder_;
};

}  // namespace tova::testing
