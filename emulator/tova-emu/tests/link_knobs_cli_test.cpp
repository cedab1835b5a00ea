// The link knobs as a user gives them: tova-emu commands in processes of their own against
// `tova-emu run`, with the desktop's remote API writing to the running handheld.
#include <stdlib.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <future>
#include <memory>

#include "platform/rapi/rapi.h"
#include "tova_emu_program.h"

namespace {

namespace fs = std::filesystem;

using child::Outcome;
using child::ReadTextFile;
using tova::testing::TovaEmuProgram;

class LinkKnobsCli : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tova-emu-knobs-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        state_ = (dir_ / "handheld").string();
        program_ = std::make_unique<TovaEmuProgram>(dir_);
    }
    void TearDown() override {
        if (run_) {
            run_->Signal(SIGTERM);
            TovaEmuProgram::Finish(*run_);
            run_.reset();
        }
        rapi::SetEndpoint("");
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    Outcome Run(const std::vector<std::string>& args) { return program_->Run(args); }
    Outcome Fault(const std::vector<std::string>& knob) {
        std::vector<std::string> args{"set", state_, "fault"};
        args.insert(args.end(), knob.begin(), knob.end());
        return Run(args);
    }
    std::string Info() { return Run({"info", state_}).out; }
    void CreateAndRun() {
        ASSERT_EQ(Run({"create", state_, "--boot-delay", "0"}).exitCode, 0);
        run_ = program_->Start({"run", state_, "--host-modules", "--link-port", "0", "--time-scale", "0"}, "run");
        ASSERT_TRUE(program_->WaitForInfo(state_, "(up)"));
        std::string endpoint = ReadTextFile(fs::path(state_) / "link.endpoint");
        rapi::SetEndpoint(endpoint.substr(0, endpoint.find('\n')));
    }

    fs::path dir_;
    std::string state_;
    std::unique_ptr<TovaEmuProgram> program_;
    std::unique_ptr<child::ChildProcess> run_;
};

TEST_F(LinkKnobsCli, ARunningHandheldPullsItsCableAtTheWriteThatReachesTheCount) {
    CreateAndRun();
    Outcome set = Fault({"pull-cable-after-bytes", "100"});
    ASSERT_EQ(set.exitCode, 0) << set.err;
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
    ASSERT_EQ(Fault({"drop-link-after-bytes", "5000", "300"}).exitCode, 0);
    ASSERT_EQ(Fault({"damage-before-export", "IsCheckSumOk", "\\Temp\\OS.nb0"}).exitCode, 0);
    std::string info = Info();
    EXPECT_NE(info.find("drop link:    after 5000 more bytes written through the link, back after 300 ms"),
              std::string::npos) << info;
    EXPECT_NE(info.find("damage:       first byte of \\Temp\\OS.nb0 just before IsCheckSumOk runs"),
              std::string::npos) << info;
    Outcome bad = Fault({"drop-link-after-bytes", "x"});
    EXPECT_EQ(bad.exitCode, 2);
    ASSERT_EQ(Fault({"clear"}).exitCode, 0);
    EXPECT_NE(Info().find("link faults:  none"), std::string::npos);
}

TEST_F(LinkKnobsCli, AStoppedHandheldRefusesThemWithAUsageErrorAndKeepsItsState) {
    ASSERT_EQ(Run({"create", state_, "--boot-delay", "0"}).exitCode, 0);
    std::string conf = ReadTextFile(fs::path(state_) / "machine.conf");
    for (const std::vector<std::string>& knob :
         {std::vector<std::string>{"pull-cable-after-bytes", "10"}, {"drop-link-after-bytes", "10", "20"},
          {"damage-before-export", "IsCheckSumOk", "\\Temp\\OS.nb0"}}) {
        Outcome o = Fault(knob);
        EXPECT_EQ(o.exitCode, 2) << knob[0];
        EXPECT_NE(o.err.find("applies to a running handheld"), std::string::npos) << o.err;
    }
    EXPECT_EQ(ReadTextFile(fs::path(state_) / "machine.conf"), conf);
}

TEST_F(LinkKnobsCli, HelpDocumentsTheLinkKnobs) {
    Outcome help = Run({"--help"});
    for (const char* word : {"pull-cable-after-bytes N", "drop-link-after-bytes N [MS]",
                             "damage-before-export EXPORT PATH"}) {
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    }
}

}  // namespace
