#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace child {
namespace {

std::string NameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

std::vector<std::string> ChildEnvironment(const Environment& edits) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        bool drop = false;
        for (const std::string& name : edits.unset) drop |= NameOf(entry) == name;
        for (const std::string& set : edits.set) drop |= NameOf(entry) == NameOf(set);
        if (!drop) env.push_back(entry);
    }
    env.insert(env.end(), edits.set.begin(), edits.set.end());
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    for (std::string& w : words) pointers.push_back(w.data());
    pointers.push_back(nullptr);
    return pointers;
}

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& folder,
                           const Environment& environment, std::filesystem::path outFile,
                           std::filesystem::path errFile)
    : outFile_(std::move(outFile)), errFile_(std::move(errFile)) {
    if (argv.empty()) throw std::runtime_error("no program to run");
    // Everything the child needs is made before fork: only async-signal-safe calls after it.
    std::vector<std::string> args = argv, env = ChildEnvironment(environment);
    std::vector<char*> argp = Pointers(args), envp = Pointers(env);
    std::string out = outFile_.string(), err = errFile_.string(), dir = folder.string();

    pid_ = fork();
    if (pid_ == 0) {
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0 || chdir(dir.c_str()) != 0) _exit(127);
        dup2(o, 1);
        dup2(e, 2);
        // The test runner may block signals; the child starts as a program normally does.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    if (pid_ < 0) throw std::runtime_error("cannot start " + argv[0]);
}

ChildProcess::~ChildProcess() {
    if (Running()) {
        kill(pid_, SIGKILL);
        Wait(std::chrono::seconds(10));
    }
}

bool ChildProcess::Running() {
    if (pid_ <= 0 || exitCode_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
    exitCode_ = ExitCode(status);
    return false;
}

void ChildProcess::Signal(int signal) {
    if (Running()) kill(pid_, signal);
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (Running()) {
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return exitCode_;
}

Outcome ChildProcess::Result() const {
    return {exitCode_.value_or(-1), ReadTextFile(outFile_), ReadTextFile(errFile_)};
}

Outcome Run(const std::vector<std::string>& argv, const std::filesystem::path& folder,
            const Environment& environment, std::chrono::milliseconds limit) {
    static std::atomic<int> serial{0};
    std::string stem = "run-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    auto outFile = std::filesystem::temp_directory_path() / (stem + ".out");
    auto errFile = std::filesystem::temp_directory_path() / (stem + ".err");
    Outcome outcome;
    {
        ChildProcess process(argv, folder, environment, outFile, errFile);
        bool ended = process.Wait(limit).has_value();
        outcome = process.Result();
        if (!ended) outcome.exitCode = -1;
    }
    std::filesystem::remove(outFile);
    std::filesystem::remove(errFile);
    return outcome;
}

std::string ReadTextFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace child
