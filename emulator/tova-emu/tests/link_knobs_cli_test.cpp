// The link knobs as a user gives them: tova-emu commands in processes of their own against
// `tova-emu run`, with the desktop's remote API writing to the running handheld.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "rapi/rapi.h"

extern char** environ;

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

class LinkKnobsCli : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tova-emu-knobs-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        state_ = (dir_ / "handheld").string();
    }
    void TearDown() override {
        if (run_ > 0) {
            kill(run_, SIGTERM);
            Finish(run_, "run");
        }
        rapi::SetEndpoint("");
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

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
        EXPECT_EQ(posix_spawn(&pid, TOVA_EMU_BINARY, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
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
        std::string tag = "cmd" + std::to_string(++serial_);
        return Finish(Start(args, tag), tag);
    }
    Outcome Fault(const std::vector<std::string>& knob) {
        std::vector<std::string> args{"set", state_, "fault"};
        args.insert(args.end(), knob.begin(), knob.end());
        return Run(args);
    }
    std::string Info() { return Run({"info", state_}).out; }
    bool WaitForInfo(const std::string& text) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            if (Info().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    void CreateAndRun() {
        ASSERT_EQ(Run({"create", state_, "--boot-delay", "0"}).status, 0);
        run_ = Start({"run", state_, "--link-port", "0", "--time-scale", "0"}, "run");
        ASSERT_TRUE(WaitForInfo("(up)"));
        std::string endpoint = ReadText(fs::path(state_) / "link.endpoint");
        rapi::SetEndpoint(endpoint.substr(0, endpoint.find('\n')));
    }

    fs::path dir_;
    std::string state_;
    pid_t run_ = -1;
    int serial_ = 0;
};

TEST_F(LinkKnobsCli, ARunningHandheldPullsItsCableAtTheWriteThatReachesTheCount) {
    CreateAndRun();
    Outcome set = Fault({"pull-cable-after-bytes", "100"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_NE(Info().find("pull cable:   after 100 more bytes"), std::string::npos);

    auto init = std::async(std::launch::async, [] { return CeRapiInit(); });
    ASSERT_EQ(init.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    ASSERT_EQ(init.get(), S_OK);
    HANDLE file = CeCreateFile(u"\\Temp\\Segment.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> bytes(1000, 0x5A);
    DWORD written = 0;
    EXPECT_FALSE(CeWriteFile(file, bytes.data(), 1000, &written, nullptr));
    CeRapiUninit();

    std::string info = Info();
    EXPECT_NE(info.find("cable:        off"), std::string::npos) << info;
    EXPECT_NE(info.find("link faults:  none"), std::string::npos) << info;
    EXPECT_NE(info.find("\\Temp\\Segment.bin  100 bytes"), std::string::npos) << info;
}

TEST_F(LinkKnobsCli, ClearDisarmsTheLinkKnobsOfARunningHandheld) {
    CreateAndRun();
    ASSERT_EQ(Fault({"drop-link-after-bytes", "5000", "300"}).status, 0);
    ASSERT_EQ(Fault({"damage-before-export", "IsCheckSumOk", "\\Temp\\OS.nb0"}).status, 0);
    std::string info = Info();
    EXPECT_NE(info.find("drop link:    after 5000 more bytes written through the link, back after 300 ms"),
              std::string::npos) << info;
    EXPECT_NE(info.find("damage:       first byte of \\Temp\\OS.nb0 just before IsCheckSumOk runs"),
              std::string::npos) << info;
    Outcome bad = Fault({"drop-link-after-bytes", "x"});
    EXPECT_EQ(bad.status, 2);
    ASSERT_EQ(Fault({"clear"}).status, 0);
    EXPECT_NE(Info().find("link faults:  none"), std::string::npos);
}

TEST_F(LinkKnobsCli, AStoppedHandheldRefusesThemWithAUsageErrorAndKeepsItsState) {
    ASSERT_EQ(Run({"create", state_, "--boot-delay", "0"}).status, 0);
    std::string conf = ReadText(fs::path(state_) / "machine.conf");
    for (const std::vector<std::string>& knob :
         {std::vector<std::string>{"pull-cable-after-bytes", "10"}, {"drop-link-after-bytes", "10", "20"},
          {"damage-before-export", "IsCheckSumOk", "\\Temp\\OS.nb0"}}) {
        Outcome o = Fault(knob);
        EXPECT_EQ(o.status, 2) << knob[0];
        EXPECT_NE(o.err.find("applies to a running handheld"), std::string::npos) << o.err;
    }
    EXPECT_EQ(ReadText(fs::path(state_) / "machine.conf"), conf);
}

TEST_F(LinkKnobsCli, HelpDocumentsTheLinkKnobs) {
    Outcome help = Run({"--help"});
    for (const char* word : {"pull-cable-after-bytes N", "drop-link-after-bytes N [MS]",
                             "damage-before-export EXPORT PATH"}) {
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    }
}

}  // namespace
