// tova-emu as a user runs it: a separate process per command, on a temporary state folder.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "temp_folder.h"

extern char** environ;

namespace tova::testing {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class TovaEmuCli : public ::testing::Test {
protected:
    // Starts tova-emu with `args`, its output going to files in the temporary folder.
    pid_t Start(const std::vector<std::string>& args, const std::string& tag) {
        std::vector<std::string> all{TOVA_EMU_BINARY};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        std::string out = (dir_ / (tag + ".out")).string(), err = (dir_ / (tag + ".err")).string();
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        int rc = posix_spawn(&pid, TOVA_EMU_BINARY, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0);
        return pid;
    }

    Outcome Finish(pid_t pid, const std::string& tag) {
        Outcome o;
        int status = 0;
        if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) o.status = WEXITSTATUS(status);
        o.out = ReadText(dir_ / (tag + ".out"));
        o.err = ReadText(dir_ / (tag + ".err"));
        return o;
    }

    Outcome Run(const std::vector<std::string>& args) {
        static int serial = 0;
        std::string tag = "cmd" + std::to_string(++serial);
        return Finish(Start(args, tag), tag);
    }

    std::string State() const { return (dir_ / "handheld").string(); }

    // Polls `info` (each poll a process) until its output holds `text`.
    bool WaitForInfo(const std::string& text) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            if (Run({"info", State()}).out.find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    TempFolder dir_;
};

TEST_F(TovaEmuCli, HelpDocumentsEveryCommand) {
    Outcome o = Run({"--help"});
    EXPECT_EQ(o.status, 0);
    for (const char* word : {"create STATE", "--model", "--ac", "--battery", "--language", "--identifier",
                             "--rom", "--factory-build", "--boot-delay", "run STATE", "--link-port",
                             "--time-scale", "set STATE cable", "set STATE ac", "set STATE battery",
                             "set STATE fault", "power-cut STATE", "reset STATE", "screenshot STATE",
                             "dump-flash STATE", "--offset", "--length", "info STATE"})
        EXPECT_NE(o.out.find(word), std::string::npos) << word;
}

TEST_F(TovaEmuCli, BadArgumentsExitWithStatus2) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"create"},
        {"create", State(), "--model", "huge"},
        {"create", State(), "--battery", "101"},
        {"create", State(), "--identifier", "1234"},
        {"create", State(), "--language"},
        {"create", State(), "--rom", "a.img", "--factory-build", "05260300"},
        {"create", State(), "--factory-build", "52603"},
        {"create", State(), "--colour", "red"},
        {"run", State(), "--link-port", "70000"},
        {"run", State(), "--time-scale", "fast"},
        {"set", State(), "cable", "maybe"},
        {"set", State(), "battery", "-1"},
        {"set", State(), "volume", "3"},
        {"reset", State(), "lukewarm"},
        {"dump-flash", State(), "out.bin", "--offset", "0x2000000", "--length", "1"},
        {"screenshot", State()},
    };
    for (const auto& args : cases) {
        std::string line;
        for (const auto& a : args) line += a + " ";
        Outcome o = Run(args);
        EXPECT_EQ(o.status, 2) << line << "\n" << o.err;
        EXPECT_FALSE(o.err.empty()) << line;
    }
    EXPECT_FALSE(fs::exists(State()));
}

TEST_F(TovaEmuCli, MissingOrCorruptStateIsAClearError) {
    Outcome o = Run({"info", State()});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("machine.conf"), std::string::npos) << o.err;
    fs::create_directories(State());
    std::ofstream(fs::path(State()) / "machine.conf") << "garbage\n";
    o = Run({"set", State(), "ac", "off"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("version"), std::string::npos) << o.err;
    EXPECT_EQ(ReadText(fs::path(State()) / "machine.conf"), "garbage\n");
}

TEST_F(TovaEmuCli, StoppedHandheldIsChangedInItsStateFolder) {
    ASSERT_EQ(Run({"create", State(), "--model", "basic", "--battery", "80", "--language", "1036",
                   "--factory-build", "04200100", "--boot-delay", "0"})
                  .status,
              0);
    Outcome again = Run({"create", State()});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("already holds"), std::string::npos);

    EXPECT_EQ(Run({"set", State(), "battery", "255"}).status, 0);
    EXPECT_EQ(Run({"set", State(), "ac", "off"}).status, 0);
    EXPECT_EQ(Run({"set", State(), "cable", "off"}).status, 0);
    EXPECT_EQ(Run({"set", State(), "fault", "model-query-garbage", "3"}).status, 0);
    EXPECT_EQ(Run({"set", State(), "fault", "fail-erase", "0", "5", "2"}).status, 0);
    Outcome unknown = Run({"set", State(), "fault", "melt", "1"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("melt"), std::string::npos);

    std::string conf = ReadText(fs::path(State()) / "machine.conf");
    EXPECT_NE(conf.find("battery=255"), std::string::npos) << conf;
    EXPECT_NE(conf.find("ac=off"), std::string::npos);
    EXPECT_NE(conf.find("fault.model-query-garbage=3"), std::string::npos);
    EXPECT_NE(conf.find("flash-fault=fail-erase 0 5 2"), std::string::npos);

    Outcome info = Run({"info", State()});
    ASSERT_EQ(info.status, 0) << info.err;
    for (const char* line : {"running:      no", "model:        basic", "ROM build:    0x04200100",
                             "ROM version:  4.20.01", "ROM language: 1036", "battery:      255",
                             "AC:           off", "cable:        off"})
        EXPECT_NE(info.out.find(line), std::string::npos) << line << "\n" << info.out;

    fs::path dump = dir_ / "identity.bin";
    Outcome d = Run({"dump-flash", State(), dump.string(), "--offset", "0x40000", "--length", "8"});
    ASSERT_EQ(d.status, 0) << d.err;
    EXPECT_EQ(ReadText(dump), "TOVAROM1");
    fs::path whole = dir_ / "whole.bin";
    ASSERT_EQ(Run({"dump-flash", State(), whole.string()}).status, 0);
    EXPECT_EQ(fs::file_size(whole), 0x2000000u);

    fs::path shot = dir_ / "shot.png";
    ASSERT_EQ(Run({"screenshot", State(), shot.string()}).status, 0);
    std::string png = ReadText(shot);
    ASSERT_GE(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\0\xF0\0\0\x01\x40", 8));  // 240 x 320
}

TEST_F(TovaEmuCli, RunningHandheldIsControlledAndSavedOnSigterm) {
    ASSERT_EQ(Run({"create", State(), "--boot-delay", "0"}).status, 0);
    pid_t run = Start({"run", State(), "--link-port", "0", "--time-scale", "0"}, "run");
    fs::path endpoint = fs::path(State()) / "link.endpoint";
    ASSERT_TRUE(WaitForInfo("(up)"));
    Outcome info = Run({"info", State()});
    ASSERT_NE(info.out.find("running:      yes"), std::string::npos) << info.out << info.err;
    ASSERT_NE(info.out.find("state:        booted"), std::string::npos) << info.out;
    std::string served = ReadText(endpoint);
    ASSERT_EQ(served.rfind("127.0.0.1:", 0), 0u) << served;
    EXPECT_NE(info.out.find(served.substr(0, served.size() - 1) + " (up)"), std::string::npos);
    EXPECT_NE(info.out.find("\\Windows\\StartUp\\Welcome.lnk"), std::string::npos);

    Outcome second = Run({"run", State()});
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.err.find("already running"), std::string::npos);

    EXPECT_EQ(Run({"set", State(), "cable", "off"}).status, 0);
    EXPECT_NE(Run({"info", State()}).out.find(" (down)"), std::string::npos);
    EXPECT_EQ(Run({"set", State(), "battery", "30"}).status, 0);
    Outcome bad = Run({"set", State(), "fault", "stuck-bits", "2", "0", "1", "1"});
    EXPECT_EQ(bad.status, 2);
    fs::path shot = dir_ / "running.png";
    ASSERT_EQ(Run({"screenshot", State(), shot.string()}).status, 0);
    EXPECT_TRUE(fs::exists(shot));
    // A power cut on a running handheld: the power comes back and it boots cold; then a
    // warm reset. Switched off only once that boot is done: off in the middle of a reset,
    // the next power-on could rightly be cold.
    Outcome cut = Run({"power-cut", State()});
    EXPECT_EQ(cut.status, 0) << cut.err;
    EXPECT_TRUE(WaitForInfo("boots:        2 (last cold)"));
    Outcome reset = Run({"reset", State(), "warm"});
    EXPECT_EQ(reset.status, 0) << reset.err;
    EXPECT_TRUE(WaitForInfo("boots:        3 (last warm)"));

    ASSERT_EQ(kill(run, SIGTERM), 0);
    Outcome ran = Finish(run, "run");
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_NE(ran.out.find("state saved"), std::string::npos) << ran.out;
    EXPECT_FALSE(fs::exists(endpoint));
    std::string conf = ReadText(fs::path(State()) / "machine.conf");
    EXPECT_NE(conf.find("battery=30"), std::string::npos) << conf;
    EXPECT_NE(conf.find("cable=off"), std::string::npos);
    EXPECT_NE(conf.find("ram-retained=on"), std::string::npos);
    Outcome after = Run({"info", State()});
    EXPECT_NE(after.out.find("running:      no"), std::string::npos);
}

TEST_F(TovaEmuCli, RestartedHandheldKeepsItsStoreAndRunsStartupPrograms) {
    ASSERT_EQ(Run({"create", State(), "--boot-delay", "0"}).status, 0);
    fs::path store = fs::path(State()) / "store";
    // First run: a cold boot lays out the store.
    pid_t run = Start({"run", State(), "--link-port", "0", "--time-scale", "0"}, "first");
    ASSERT_TRUE(WaitForInfo("(up)"));
    ASSERT_EQ(kill(run, SIGINT), 0);
    ASSERT_EQ(Finish(run, "first").status, 0);
    ASSERT_TRUE(fs::is_directory(store / "Windows" / "StartUp"));

    // Switched off, a program is put in its start-up folder.
    fs::copy_file(TOVA_PROBE_MODULE, store / "Windows" / "StartUp" / "Probe.exe");
    std::ofstream(store / "Temp" / "probe.cmd") << "write";
    run = Start({"run", State(), "--link-port", "0", "--time-scale", "0"}, "second");
    EXPECT_TRUE(WaitForInfo("\\Temp\\probe.out  3 bytes"));
    Outcome info = Run({"info", State()});
    EXPECT_NE(info.out.find("boots:        2 (last warm)"), std::string::npos) << info.out;
    ASSERT_EQ(kill(run, SIGINT), 0);
    EXPECT_EQ(Finish(run, "second").status, 0);
    EXPECT_EQ(ReadText(store / "Temp" / "probe.out"), "ran");
}

}  // namespace
}  // namespace tova::testing
