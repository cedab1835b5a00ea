// Programs of this build run as child processes, as a user runs them: their own working
// folder, an edited copy of this process's environment, standard output and error in files.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace child {

struct Environment {
    std::vector<std::string> set;    // "NAME=value" entries added or replacing
    std::vector<std::string> unset;  // names removed
};

struct Outcome {
    int exitCode = -1;  // 128 + signal when killed by one
    std::string out;
    std::string err;
};

class ChildProcess {
public:
    // Starts `argv` in `folder`; its output goes to `outFile` and `errFile`. Throws
    // std::runtime_error when it cannot be started.
    ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& folder,
                 const Environment& environment, std::filesystem::path outFile,
                 std::filesystem::path errFile);
    // A child still running is killed: a failed test leaves no process behind.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Running();
    void Signal(int signal);
    // The exit code once the child has ended, nullopt when it still runs after `limit` of
    // real time (a safety limit against a hung child, not a measure of anything).
    std::optional<int> Wait(std::chrono::milliseconds limit);
    Outcome Result() const;

private:
    pid_t pid_ = -1;
    std::optional<int> exitCode_;
    std::filesystem::path outFile_, errFile_;
};

// Runs `argv` to its end; a child still running after `limit` is killed and reported with
// exit code -1.
Outcome Run(const std::vector<std::string>& argv, const std::filesystem::path& folder,
            const Environment& environment = {},
            std::chrono::milliseconds limit = std::chrono::minutes(5));

std::string ReadTextFile(const std::filesystem::path& path);

}  // namespace child
