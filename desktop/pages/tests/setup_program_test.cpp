// The setup program itself, run as a process from a program folder of its own against a
// handheld emulated in this test process.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "desktop/model_flag.h"
#include "tova/machine.h"
#include "wizard_fixture.h"

namespace wizard_test {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ReadText(const fs::path& path) {
    std::vector<uint8_t> bytes = ReadHostFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// Runs `program` with no arguments in `folder`, its environment being this process's
// without the names in `unset` and with `set` added.
Outcome RunProgram(const fs::path& program, const fs::path& folder, const std::vector<std::string>& set,
                   const std::vector<std::string>& unset) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        bool drop = false;
        for (const std::string& u : unset) drop |= name == u;
        for (const std::string& s : set) drop |= name == s.substr(0, s.find('='));
        if (!drop) env.push_back(entry);
    }
    env.insert(env.end(), set.begin(), set.end());
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string path = program.string();
    char* argv[] = {path.data(), nullptr};
    fs::path outFile = folder / "stdout.txt", errFile = folder / "stderr.txt";
    std::string outPath = outFile.string(), errPath = errFile.string(), dir = folder.string();

    pid_t child = fork();
    if (child == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || chdir(dir.c_str()) != 0) _exit(127);
        dup2(out, 1);
        dup2(err, 2);
        execve(path.c_str(), argv, envp.data());
        _exit(127);
    }
    Outcome outcome;
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return outcome;
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.out = ReadText(outFile);
    outcome.err = ReadText(errFile);
    return outcome;
}

class SetupProgram : public WizardTest {
protected:
    // setup beside its companion files, as installed.
    fs::path InstallSetup() {
        fs::path program = ProgramFolder() / "setup";
        fs::copy_file(SETUP_PROGRAM_FILE, program);
        return program;
    }
    std::string Endpoint() { return "TOVA_RAPI=127.0.0.1:" + std::to_string(Server().Port()); }
    static std::string Scale() { return "TOVA_TIME_SCALE=" + std::to_string(kTimeScale); }
};

const std::vector<std::string> kDisplays = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};

TEST_F(SetupProgram, UnattendedRunUpdatesTheHandheldAndPrintsTheTranscript) {
    StartHandheld();
    PutFullPackage();
    fs::path setup = InstallSetup();
    Outcome run = RunProgram(setup, WorkFolder(), {"TOVA_UI=unattended", Endpoint(), Scale()}, kDisplays);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    for (const char* line : {"page 102: opened \"Vorn Tova Velkor\"", "page 130: opened \"Vorn Tova Velkor\"",
                             "page 134: opened \"Caution\"", "page 129: opened \"Vorn Tova Velkor\"",
                             "page 129: message box \"Update complete!\"", "page 129: ended with 0"}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
    }
    EXPECT_EQ(run.out.find("page 133"), std::string::npos) << "no License.txt, no agreement page";
    EXPECT_TRUE(Machine().WaitUntilBooted(600000));
    EXPECT_EQ(Machine().RomBuild(), 0x03280401u) << "the handheld runs the package's ROM";
}

TEST_F(SetupProgram, UnattendedWithoutHandheldSaysToConnectAndEnds) {
    HandheldSpec spec;
    spec.cableAttached = false;
    StartHandheld(spec);
    fs::path setup = InstallSetup();
    Outcome run = RunProgram(setup, WorkFolder(), {"TOVA_UI=unattended", Endpoint(), Scale()}, kDisplays);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("message box \"Caution\": \"Connect your device"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("opened"), std::string::npos) << run.out;
}

struct RefusedStart {
    const char* name;
    std::vector<std::string> set;
    int exitCode;
    const char* says;
};

class SetupRefuses : public SetupProgram, public ::testing::WithParamInterface<RefusedStart> {};

TEST_P(SetupRefuses, WithAClearMessage) {
    fs::path setup = InstallSetup();
    Outcome run = RunProgram(setup, WorkFolder(), GetParam().set, kDisplays);
    EXPECT_EQ(run.exitCode, GetParam().exitCode);
    EXPECT_NE(run.err.find(GetParam().says), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Environment, SetupRefuses,
    ::testing::Values(RefusedStart{"UnknownUi", {"TOVA_UI=fancy"}, 2, "unknown TOVA_UI value \"fancy\""},
                      RefusedStart{"NoDisplay", {}, 1, "TOVA_UI=unattended"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace wizard_test
