// tova-emu as a user runs it: a separate process per command, on a temporary state folder.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "temp_folder.h"
#include "tova_emu_program.h"

namespace tova::testing {
namespace {

namespace fs = std::filesystem;

using child::Outcome;
using child::ReadTextFile;

class TovaEmuCli : public ::testing::Test {
protected:
    Outcome Run(const std::vector<std::string>& args) { return program_.Run(args); }
    std::unique_ptr<child::ChildProcess> Start(const std::vector<std::string>& args, const std::string& tag) {
        return program_.Start(args, tag);
    }
    Outcome Finish(child::ChildProcess& process) { return TovaEmuProgram::Finish(process); }
    bool WaitForInfo(const std::string& text) { return program_.WaitForInfo(State(), text); }

    std::string State() const { return (dir_ / "handheld").string(); }

    TempFolder dir_;
    TovaEmuProgram program_{dir_.Path()};
};

TEST_F(TovaEmuCli, HelpDocumentsEveryCommand) {
    Outcome o = Run({"--help"});
    EXPECT_EQ(o.exitCode, 0);
    for (const char* word : {"create STATE", "--model", "--ac", "--battery", "--language", "--identifier",
                             "--rom", "--factory-build", "--boot-delay", "--arm-modules", "run STATE", "--link-port",
                             "--time-scale", "--host-modules", "set STATE cable", "set STATE ac", "set STATE battery",
                             "set STATE fault", "power-cut STATE", "reset STATE", "screenshot STATE",
                             "dump-flash STATE", "--offset", "--length", "info STATE", "view STATE", "--window",
                             "--grab", "--close-after"})
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
        {"create", State(), "--arm-modules", "yes"},
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
        EXPECT_EQ(o.exitCode, 2) << line << "\n" << o.err;
        EXPECT_FALSE(o.err.empty()) << line;
    }
    EXPECT_FALSE(fs::exists(State()));
}

// A stopped handheld changed with bad words: each is refused with status 2 and a message
// that names the word and what is allowed, and the state folder stays as it was.
TEST_F(TovaEmuCli, BadValuesForAStoppedHandheldAreNamedAndChangeNothing) {
    ASSERT_EQ(Run({"create", State()}).exitCode, 0);
    const std::string conf = ReadTextFile(fs::path(State()) / "machine.conf");
    struct Case {
        std::vector<std::string> words;  // after the state folder
        std::vector<std::string> mentions;
    };
    const Case cases[] = {
        {{"fault", "stuck-bits", "0", "0", "0xFFFF", "0xFFFF"}, {"LOW 0xFFFF and HIGH 0xFFFF", "both 0 and 1"}},
        {{"fault", "stuck-bits", "0", "0", "0x10000", "0"}, {"LOW", "0 to 65535", "\"0x10000\""}},
        {{"fault", "fail-erase", "2", "3"}, {"the chip", "0 to 1", "\"2\""}},
        {{"fault", "fail-erase", "forever", "3"}, {"the chip", "0 to 1", "\"forever\""}},
        {{"fault", "fail-erase", "4294967295", "3"}, {"the chip", "\"4294967295\""}},
        {{"fault", "fail-erase", "1", "128"}, {"the block", "0 to 127", "\"128\""}},
        {{"fault", "lock-block", "0", "forever"}, {"the block", "0 to 127", "\"forever\""}},
        {{"fault", "power-cut-in-block", "-1"}, {"the block", "\"-1\""}},
        {{"fault", "fail-program", "0", "0x2000000"}, {"the offset", "0 to 33554431", "\"0x2000000\""}},
        {{"fault", "busy-during", "0", "soon"}, {"the polls", "a number or forever", "\"soon\""}},
        {{"fault", "fail-erase", "0"}, {"1 argument given", "CHIP BLOCK [TIMES]"}},
        {{"fault", "lock-block", "0", "3", "4"}, {"3 arguments given", "CHIP BLOCK"}},
        {{"fault", "clear", "now"}, {"too many arguments", "\"now\""}},
        {{"fault", "reboot-ignored", "on", "off"}, {"too many arguments", "\"off\""}},
        {{"fault", "melt"}, {"\"melt\"", "--help"}},
        {{"battery", "40", "50"}, {"too many arguments", "\"50\""}},
        {{"battery", "101"}, {"0 to 100", "255"}},
        {{"cable", "off", "now"}, {"too many arguments", "\"now\""}},
        {{"ac", "yes"}, {"on or off", "\"yes\""}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"set", State()};
        args.insert(args.end(), c.words.begin(), c.words.end());
        std::string line;
        for (const auto& w : c.words) line += w + " ";
        Outcome o = Run(args);
        EXPECT_EQ(o.exitCode, 2) << line << "\n" << o.err;
        for (const std::string& text : c.mentions) EXPECT_NE(o.err.find(text), std::string::npos) << line << ": " << o.err;
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"info", State(), "extra"}, {"power-cut", State(), "now"},
          {"reset", State(), "warm", "twice"}, {"screenshot", State(), "a.png", "b.png"},
          {"dump-flash", State(), "a.bin", "--offset", "0x1000000", "--length", "0x1000001"}}) {
        Outcome o = Run(args);
        EXPECT_EQ(o.exitCode, 2) << args[0] << "\n" << o.err;
        EXPECT_NE(o.err.find(args.back()), std::string::npos) << args[0] << ": " << o.err;
    }
    EXPECT_EQ(ReadTextFile(fs::path(State()) / "machine.conf"), conf);
    EXPECT_FALSE(fs::exists(dir_ / "a.png"));
    EXPECT_FALSE(fs::exists(dir_ / "a.bin"));

    // Bits stuck apart are taken.
    Outcome apart = Run({"set", State(), "fault", "stuck-bits", "0", "0", "0x00FF", "0xFF00"});
    EXPECT_EQ(apart.exitCode, 0) << apart.err;
    EXPECT_NE(ReadTextFile(fs::path(State()) / "machine.conf").find("flash-fault=stuck-bits 0 0 0x00FF 0xFF00"),
              std::string::npos);
}

// In every build, with Qt or without (the tsan preset): no display, no window, status 2,
// and a handheld that `run --window` never started.
TEST_F(TovaEmuCli, WindowWithoutADisplayIsRefusedWithStatus2) {
    ASSERT_EQ(Run({"create", State()}).exitCode, 0);
    const child::Environment noDisplay{{}, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}};
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"view", State()}, {"run", State(), "--link-port", "0", "--window"}}) {
        Outcome o = program_.Run(args, noDisplay);
        EXPECT_EQ(o.exitCode, 2) << args[0] << ": " << o.err;
        EXPECT_NE(o.err.find("window"), std::string::npos) << o.err;
        EXPECT_EQ(o.out, "");
    }
    EXPECT_NE(Run({"info", State()}).out.find("boots:        0"), std::string::npos);
}

TEST_F(TovaEmuCli, RunningArmModulesIsAnOptionOfTheHandheldOnByDefault) {
    ASSERT_EQ(Run({"create", State()}).exitCode, 0);
    EXPECT_NE(Run({"info", State()}).out.find("ARM modules:  on (its modules run as ARM code"), std::string::npos);
    EXPECT_NE(ReadTextFile(fs::path(State()) / "machine.conf").find("arm-modules=on\n"), std::string::npos);
    fs::remove_all(State());
    ASSERT_EQ(Run({"create", State(), "--arm-modules", "off"}).exitCode, 0);
    EXPECT_NE(Run({"info", State()}).out.find("ARM modules:  off (its modules run as host code"), std::string::npos);
    EXPECT_NE(ReadTextFile(fs::path(State()) / "machine.conf").find("arm-modules=off\n"), std::string::npos);
}

TEST_F(TovaEmuCli, MissingOrCorruptStateIsAClearError) {
    Outcome o = Run({"info", State()});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_NE(o.err.find("machine.conf"), std::string::npos) << o.err;
    fs::create_directories(State());
    std::ofstream(fs::path(State()) / "machine.conf") << "garbage\n";
    o = Run({"set", State(), "ac", "off"});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_NE(o.err.find("version"), std::string::npos) << o.err;
    EXPECT_EQ(ReadTextFile(fs::path(State()) / "machine.conf"), "garbage\n");
}

TEST_F(TovaEmuCli, StoppedHandheldIsChangedInItsStateFolder) {
    ASSERT_EQ(Run({"create", State(), "--model", "basic", "--battery", "80", "--language", "1036",
                   "--factory-build", "04200100", "--boot-delay", "0"})
                  .exitCode,
              0);
    Outcome again = Run({"create", State()});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("already holds"), std::string::npos);

    EXPECT_EQ(Run({"set", State(), "battery", "255"}).exitCode, 0);
    EXPECT_EQ(Run({"set", State(), "ac", "off"}).exitCode, 0);
    EXPECT_EQ(Run({"set", State(), "cable", "off"}).exitCode, 0);
    EXPECT_EQ(Run({"set", State(), "fault", "model-query-garbage", "3"}).exitCode, 0);
    EXPECT_EQ(Run({"set", State(), "fault", "fail-erase", "0", "5", "2"}).exitCode, 0);
    EXPECT_EQ(Run({"set", State(), "fault", "reboot-ignored", "on"}).exitCode, 0);
    EXPECT_EQ(Run({"set", State(), "fault", "power-cut-in-block", "1"}).exitCode, 0);
    Outcome unknown = Run({"set", State(), "fault", "melt", "1"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("melt"), std::string::npos);

    std::string conf = ReadTextFile(fs::path(State()) / "machine.conf");
    EXPECT_NE(conf.find("battery=255"), std::string::npos) << conf;
    EXPECT_NE(conf.find("ac=off"), std::string::npos);
    EXPECT_NE(conf.find("fault.model-query-garbage=3"), std::string::npos);
    EXPECT_NE(conf.find("flash-fault=fail-erase 0 5 2"), std::string::npos);
    EXPECT_NE(conf.find("fault.reboot-ignored=on"), std::string::npos);
    EXPECT_NE(conf.find("flash-fault=power-cut-in-block 1"), std::string::npos);

    Outcome info = Run({"info", State()});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    for (const char* line : {"running:      no", "model:        basic", "ROM build:    0x04200100",
                             "ROM version:  4.20.01", "ROM language: 1036", "battery:      255",
                             "AC:           off", "cable:        off"})
        EXPECT_NE(info.out.find(line), std::string::npos) << line << "\n" << info.out;

    fs::path dump = dir_ / "identity.bin";
    Outcome d = Run({"dump-flash", State(), dump.string(), "--offset", "0x40000", "--length", "8"});
    ASSERT_EQ(d.exitCode, 0) << d.err;
    EXPECT_EQ(ReadTextFile(dump), "TOVAROM1");
    fs::path whole = dir_ / "whole.bin";
    ASSERT_EQ(Run({"dump-flash", State(), whole.string()}).exitCode, 0);
    EXPECT_EQ(fs::file_size(whole), 0x2000000u);

    fs::path shot = dir_ / "shot.png";
    ASSERT_EQ(Run({"screenshot", State(), shot.string()}).exitCode, 0);
    std::string png = ReadTextFile(shot);
    ASSERT_GE(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\0\xF0\0\0\x01\x40", 8));  // 240 x 320
}

// Another user's process reaches the control channel's name as easily as the owner's: it
// is refused before anything is done, so it cannot cut the power or have a file written.
TEST_F(TovaEmuCli, AnotherUsersProcessIsRefusedByTheControlChannel) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a command as another user";
    fs::permissions(dir_.Path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
    Outcome help = program_.RunAsNobody({"--help"});
    if (help.exitCode != 0) GTEST_SKIP() << "nobody cannot run tova-emu here: " << help.err;
    ASSERT_EQ(Run({"create", State(), "--boot-delay", "0"}).exitCode, 0);
    auto run = Start({"run", State(), "--host-modules", "--link-port", "0", "--time-scale", "0"}, "run");
    ASSERT_TRUE(WaitForInfo("(up)"));
    std::string boots = Run({"info", State()}).out;
    boots = boots.substr(boots.find("boots:"), boots.find('\n', boots.find("boots:")) - boots.find("boots:"));

    fs::path rootsOnly = dir_ / "roots-only";
    fs::create_directory(rootsOnly);
    fs::permissions(rootsOnly, fs::perms::owner_all);
    const std::vector<std::vector<std::string>> requests = {
        {"power-cut", State()},
        {"set", State(), "battery", "5"},
        {"dump-flash", State(), (rootsOnly / "flash.bin").string()},
        {"screenshot", State(), (rootsOnly / "screen.png").string()},
        {"info", State()},
    };
    for (const auto& request : requests) {
        Outcome o = program_.RunAsNobody(request);
        EXPECT_EQ(o.exitCode, 1) << request[0] << ": " << o.out << o.err;
        EXPECT_NE(o.err.find("only the user running this handheld"), std::string::npos) << request[0] << ": " << o.err;
    }
    EXPECT_TRUE(fs::is_empty(rootsOnly));
    Outcome info = Run({"info", State()});
    EXPECT_NE(info.out.find(boots), std::string::npos) << "no power cut reached it:\n" << info.out;
    EXPECT_EQ(info.out.find("battery:      5\n"), std::string::npos) << info.out;

    run->Signal(SIGTERM);
    EXPECT_EQ(Finish(*run).exitCode, 0);
}

uid_t OwnerOf(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_uid : uid_t(-1);
}

std::vector<std::string> NamesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Screenshots and flash dumps are written by the command's own process with its own rights,
// never by the process that runs the handheld: a handheld run by nobody hands root the bytes
// for a folder only root may write, and nobody, its owner, asking for that folder is told it
// cannot write there, leaving nothing behind.
TEST_F(TovaEmuCli, ScreenshotAndFlashDumpAreWrittenByTheClient) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the handheld as another user";
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr) GTEST_SKIP() << "no user nobody";
    fs::permissions(dir_.Path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
    Outcome help = program_.RunAsNobody({"--help"});
    if (help.exitCode != 0) GTEST_SKIP() << "nobody cannot run tova-emu here: " << help.err;
    fs::path nobodys = dir_ / "nobodys";
    fs::create_directory(nobodys);
    ASSERT_EQ(::chown(nobodys.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    const std::string state = (nobodys / "handheld").string();
    ASSERT_EQ(program_.RunAsNobody({"create", state, "--boot-delay", "0"}).exitCode, 0);
    auto run = program_.StartAsNobody({"run", state, "--link-port", "0", "--time-scale", "0"}, "run");
    ASSERT_TRUE(program_.WaitForInfo(state, "(up)")) << program_.Output("run");

    fs::path rootsOnly = dir_ / "roots-only";
    fs::create_directory(rootsOnly);
    fs::permissions(rootsOnly, fs::perms::owner_all);
    Outcome shot = Run({"screenshot", state, (rootsOnly / "screen.png").string()});
    ASSERT_EQ(shot.exitCode, 0) << shot.err;
    EXPECT_EQ(ReadTextFile(rootsOnly / "screen.png").substr(1, 3), "PNG");
    Outcome dump = Run({"dump-flash", state, (rootsOnly / "identity.bin").string(), "--offset", "0x40000",
                        "--length", "8"});
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_EQ(ReadTextFile(rootsOnly / "identity.bin"), "TOVAROM1");
    for (const char* name : {"screen.png", "identity.bin"}) EXPECT_EQ(OwnerOf(rootsOnly / name), 0u) << name;

    for (const std::vector<std::string>& request :
         {std::vector<std::string>{"screenshot", state, (rootsOnly / "nobody.png").string()},
          {"dump-flash", state, (rootsOnly / "nobody.bin").string(), "--length", "0x1000"}}) {
        Outcome o = program_.RunAsNobody(request);
        EXPECT_EQ(o.exitCode, 1) << request[0] << ": " << o.out << o.err;
        EXPECT_NE(o.err.find("cannot write " + request[2] + ": Permission denied"), std::string::npos)
            << request[0] << ": " << o.err;
    }
    EXPECT_EQ(NamesIn(rootsOnly), (std::vector<std::string>{"identity.bin", "screen.png"}));

    Outcome mine = program_.RunAsNobody({"screenshot", state, (nobodys / "mine.png").string()});
    ASSERT_EQ(mine.exitCode, 0) << mine.err;
    EXPECT_EQ(OwnerOf(nobodys / "mine.png"), nobody->pw_uid);

    run->Signal(SIGTERM);
    EXPECT_EQ(Finish(*run).exitCode, 0) << program_.Output("run");
}

TEST_F(TovaEmuCli, RunningHandheldIsControlledAndSavedOnSigterm) {
    ASSERT_EQ(Run({"create", State(), "--boot-delay", "0"}).exitCode, 0);
    auto run = Start({"run", State(), "--host-modules", "--link-port", "0", "--time-scale", "0"}, "run");
    fs::path endpoint = fs::path(State()) / "link.endpoint";
    ASSERT_TRUE(WaitForInfo("(up)"));
    Outcome info = Run({"info", State()});
    ASSERT_NE(info.out.find("running:      yes"), std::string::npos) << info.out << info.err;
    ASSERT_NE(info.out.find("state:        booted"), std::string::npos) << info.out;
    std::string served = ReadTextFile(endpoint);
    ASSERT_EQ(served.rfind("127.0.0.1:", 0), 0u) << served;
    EXPECT_NE(info.out.find(served.substr(0, served.size() - 1) + " (up)"), std::string::npos);
    EXPECT_NE(info.out.find("\\Windows\\StartUp\\Welcome.lnk"), std::string::npos);

    Outcome second = Run({"run", State()});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find("already running"), std::string::npos);

    EXPECT_EQ(Run({"set", State(), "cable", "off"}).exitCode, 0);
    EXPECT_NE(Run({"info", State()}).out.find(" (down)"), std::string::npos);
    EXPECT_EQ(Run({"set", State(), "battery", "30"}).exitCode, 0);
    Outcome bad = Run({"set", State(), "fault", "stuck-bits", "2", "0", "1", "1"});
    EXPECT_EQ(bad.exitCode, 2);
    fs::path shot = dir_ / "running.png";
    ASSERT_EQ(Run({"screenshot", State(), shot.string()}).exitCode, 0);
    EXPECT_TRUE(fs::exists(shot));
    // A power cut on a running handheld: the power comes back and it boots cold; then a
    // warm reset. Switched off only once that boot is done: off in the middle of a reset,
    // the next power-on could rightly be cold.
    Outcome cut = Run({"power-cut", State()});
    EXPECT_EQ(cut.exitCode, 0) << cut.err;
    EXPECT_TRUE(WaitForInfo("boots:        2 (last cold)"));
    Outcome reset = Run({"reset", State(), "warm"});
    EXPECT_EQ(reset.exitCode, 0) << reset.err;
    EXPECT_TRUE(WaitForInfo("boots:        3 (last warm)"));

    ASSERT_TRUE(run->Running());
    run->Signal(SIGTERM);
    Outcome ran = Finish(*run);
    EXPECT_EQ(ran.exitCode, 0) << ran.err;
    EXPECT_NE(ran.out.find("state saved"), std::string::npos) << ran.out;
    EXPECT_FALSE(fs::exists(endpoint));
    std::string conf = ReadTextFile(fs::path(State()) / "machine.conf");
    EXPECT_NE(conf.find("battery=30"), std::string::npos) << conf;
    EXPECT_NE(conf.find("cable=off"), std::string::npos);
    EXPECT_NE(conf.find("ram-retained=on"), std::string::npos);
    Outcome after = Run({"info", State()});
    EXPECT_NE(after.out.find("running:      no"), std::string::npos);
}

TEST_F(TovaEmuCli, RestartedHandheldKeepsItsStoreAndRunsStartupPrograms) {
    ASSERT_EQ(Run({"create", State(), "--boot-delay", "0"}).exitCode, 0);
    fs::path store = fs::path(State()) / "store";
    // First run: a cold boot lays out the store.
    auto run = Start({"run", State(), "--host-modules", "--link-port", "0", "--time-scale", "0"}, "first");
    ASSERT_TRUE(WaitForInfo("(up)"));
    ASSERT_TRUE(run->Running());
    run->Signal(SIGINT);
    ASSERT_EQ(Finish(*run).exitCode, 0);
    ASSERT_TRUE(fs::is_directory(store / "Windows" / "StartUp"));

    // Switched off, a program is put in its start-up folder.
    fs::copy_file(TOVA_PROBE_MODULE, store / "Windows" / "StartUp" / "PlatformProbe.exe");
    std::ofstream(store / "Temp" / "probe.cmd") << "write";
    run = Start({"run", State(), "--host-modules", "--link-port", "0", "--time-scale", "0"}, "second");
    EXPECT_TRUE(WaitForInfo("\\Temp\\probe.out  3 bytes"));
    Outcome info = Run({"info", State()});
    EXPECT_NE(info.out.find("boots:        2 (last warm)"), std::string::npos) << info.out;
    ASSERT_TRUE(run->Running());
    run->Signal(SIGINT);
    EXPECT_EQ(Finish(*run).exitCode, 0);
    EXPECT_EQ(ReadTextFile(store / "Temp" / "probe.out"), "ran");
}

// Started without --host-modules the handheld runs no module, not even the build's own
// program: the shell refuses it and says how to start the handheld so.
TEST_F(TovaEmuCli, WithoutHostModulesNoStartupProgramRuns) {
    ASSERT_EQ(Run({"create", State(), "--boot-delay", "0"}).exitCode, 0);
    fs::path store = fs::path(State()) / "store";
    auto run = Start({"run", State(), "--link-port", "0", "--time-scale", "0"}, "first");
    ASSERT_TRUE(WaitForInfo("(up)"));
    run->Signal(SIGINT);
    ASSERT_EQ(Finish(*run).exitCode, 0);

    fs::copy_file(TOVA_PROBE_MODULE, store / "Windows" / "StartUp" / "PlatformProbe.exe");
    std::ofstream(store / "Temp" / "probe.cmd") << "write";
    run = Start({"run", State(), "--link-port", "0", "--time-scale", "0"}, "second");
    ASSERT_TRUE(WaitForInfo("boots:        2"));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (program_.Output("second").find("runs no host code") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::string said = program_.Output("second");
    EXPECT_NE(said.find("\\Windows\\StartUp\\PlatformProbe.exe cannot run: this handheld runs no host code"),
              std::string::npos) << said;
    EXPECT_NE(said.find("--host-modules"), std::string::npos) << said;
    run->Signal(SIGINT);
    EXPECT_EQ(Finish(*run).exitCode, 0);
    EXPECT_FALSE(fs::exists(store / "Temp" / "probe.out"));
}

// Every signal that ends `run` switches the handheld off and saves it as Ctrl-C does.
TEST_F(TovaEmuCli, EveryStopSignalSavesTheHandheld) {
    ASSERT_EQ(Run({"create", State(), "--boot-delay", "0"}).exitCode, 0);
    fs::path endpoint = fs::path(State()) / "link.endpoint";
    for (int signal : {SIGHUP, SIGQUIT, SIGPIPE, SIGTERM, SIGUSR1, SIGALRM, SIGXCPU, SIGRTMIN + 2}) {
        auto run = Start({"run", State(), "--host-modules", "--link-port", "0", "--time-scale", "0"}, strsignal(signal));
        ASSERT_TRUE(WaitForInfo("(up)")) << strsignal(signal);
        run->Signal(signal);
        Outcome ran = Finish(*run);
        EXPECT_EQ(ran.exitCode, 0) << strsignal(signal) << ": " << ran.err;
        EXPECT_NE(ran.out.find("state saved"), std::string::npos) << strsignal(signal) << ": " << ran.out;
        EXPECT_FALSE(fs::exists(endpoint)) << strsignal(signal);
        EXPECT_NE(ReadTextFile(fs::path(State()) / "machine.conf").find("ram-retained=on"), std::string::npos)
            << strsignal(signal);
    }
}

// A kill -9 gives `run` no chance to save: the flash is in its file all the same, and the
// RAM is lost as in a power cut. The folder loads, and the next run boots cold.
TEST_F(TovaEmuCli, AKilledHandheldLeavesAFolderThatLoadsAndBootsCold) {
    ASSERT_EQ(Run({"create", State(), "--boot-delay", "0"}).exitCode, 0);
    fs::path store = fs::path(State()) / "store";
    auto run = Start({"run", State(), "--link-port", "0", "--time-scale", "0"}, "first");
    ASSERT_TRUE(WaitForInfo("(up)"));
    run->Signal(SIGINT);
    ASSERT_EQ(Finish(*run).exitCode, 0);
    // Switched off properly, the next run boots warm; a file left in its store shows what
    // the RAM keeps.
    run = Start({"run", State(), "--link-port", "0", "--time-scale", "0"}, "second");
    ASSERT_TRUE(WaitForInfo("boots:        2 (last warm)"));
    std::ofstream(store / "Temp" / "kept-while-warm.txt") << "x";
    ASSERT_TRUE(WaitForInfo("\\Temp\\kept-while-warm.txt"));
    run->Signal(SIGKILL);
    EXPECT_EQ(Finish(*run).exitCode, 128 + SIGKILL);

    EXPECT_NE(ReadTextFile(fs::path(State()) / "machine.conf").find("ram-retained=off"), std::string::npos);
    Outcome info = Run({"info", State()});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("running:      no"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("ROM build:    0x05010100"), std::string::npos) << info.out;

    run = Start({"run", State(), "--link-port", "0", "--time-scale", "0"}, "third");
    EXPECT_TRUE(WaitForInfo("(last cold)"));
    EXPECT_TRUE(WaitForInfo("(up)"));
    EXPECT_FALSE(fs::exists(store / "Temp" / "kept-while-warm.txt")) << "a cold boot wipes the store";
    run->Signal(SIGINT);
    Outcome ran = Finish(*run);
    EXPECT_EQ(ran.exitCode, 0) << ran.err;
    EXPECT_FALSE(fs::exists(fs::path(State()) / "link.endpoint"));
}

// A save that fails at switch-off is a message and exit 1, never an abort.
TEST_F(TovaEmuCli, FailedSaveAtSwitchOffIsAClearError) {
    ASSERT_EQ(Run({"create", State(), "--boot-delay", "0"}).exitCode, 0);
    auto run = Start({"run", State(), "--host-modules", "--link-port", "0", "--time-scale", "0"}, "removed");
    ASSERT_TRUE(WaitForInfo("(up)"));
    fs::remove_all(State());
    run->Signal(SIGINT);
    Outcome ran = Finish(*run);
    EXPECT_EQ(ran.exitCode, 1) << ran.err;
    EXPECT_NE(ran.err.find("could not be saved"), std::string::npos) << ran.err;
    EXPECT_EQ(ran.err.find("terminate called"), std::string::npos) << ran.err;
}

// A state folder the handheld may no longer write: the switch-off says the state could not
// be saved and ends with 1. Root writes into any folder a mode forbids, so for root the
// folder is made immutable instead.
bool MakeReadOnly(const fs::path& folder, bool readOnly) {
    if (::geteuid() == 0)
        return std::system(("chattr " + std::string(readOnly ? "+i " : "-i ") + folder.string()).c_str()) == 0;
    fs::permissions(folder, readOnly ? fs::perms::owner_read | fs::perms::owner_exec : fs::perms::owner_all);
    return true;
}

TEST_F(TovaEmuCli, ASwitchOffIntoAReadOnlyFolderIsAClearError) {
    ASSERT_EQ(Run({"create", State(), "--boot-delay", "0"}).exitCode, 0);
    auto run = Start({"run", State(), "--link-port", "0", "--time-scale", "0"}, "read-only");
    ASSERT_TRUE(WaitForInfo("(up)"));
    if (!MakeReadOnly(State(), true)) {
        run->Signal(SIGINT);
        Finish(*run);
        GTEST_SKIP() << "cannot make a folder read-only here";
    }
    run->Signal(SIGTERM);
    Outcome ran = Finish(*run);
    EXPECT_TRUE(MakeReadOnly(State(), false));
    EXPECT_EQ(ran.exitCode, 1) << ran.err;
    EXPECT_NE(ran.err.find("could not be saved in " + State()), std::string::npos) << ran.err;
    EXPECT_NE(ran.err.find(".tmp"), std::string::npos) << "names the file it could not write: " << ran.err;
    EXPECT_EQ(ran.err.find("terminate called"), std::string::npos) << ran.err;
    // What was saved before is still there, whole.
    Outcome info = Run({"info", State()});
    EXPECT_EQ(info.exitCode, 0) << info.err;
}

}  // namespace
}  // namespace tova::testing
