// An invocation reaches a handheld whose link dropped and came back: it opens a new session
// once, without waiting, while every other call on the dead session keeps failing.
#include <gtest/gtest.h>

#include <future>

#include "linked_desktop.h"

namespace {

using link_test::kHangGuard;
using link_test::LinkedDesktop;
using link_test::WaitFor;

class InvokeReconnect : public LinkedDesktop {
protected:
    void SetUp() override {
        LinkedDesktop::SetUp();
        handheld_->PlaceLibrary();
    }
    // The link drops and is back at once; the desktop's session has died with it.
    void BlinkTheLink() {
        Machine().SetCable(false);
        Machine().SetCable(true);
        ASSERT_TRUE(Machine().LinkUp());
        // Time for the handheld's close to reach the desktop's idle connection (loopback
        // delivers it from the kernel's deferred work, which a busy machine may delay).
        tova::ScaledSleep(2000);
    }
    uint64_t Accepted() { return Server().Stats().connectionsAccepted; }
    uint64_t Refused() { return Server().Stats().connectionsRefused; }
};

struct BetweenDropAndInvoke {
    const char* name;
    bool fileCallFirst;  // a file call notices the dead session before the invocation
};

class InvokeAfterABlink : public InvokeReconnect, public ::testing::WithParamInterface<BetweenDropAndInvoke> {};

TEST_P(InvokeAfterABlink, RunsOnANewSessionThatStaysCurrent) {
    HANDLE oldHandle = Create(u"\\Temp\\Old.bin");
    ASSERT_NE(oldHandle, INVALID_HANDLE_VALUE);
    BlinkTheLink();
    if (GetParam().fileCallFirst) {
        EXPECT_FALSE(VersionAnswers()) << "the link monitor must see the break";
    }

    EXPECT_EQ(InvokeEcho(), S_OK);
    EXPECT_EQ(Server().Stats().invocations, 1u);

    EXPECT_TRUE(VersionAnswers()) << "file calls go to the new session";
    HANDLE file = Create(u"\\Temp\\New.bin");
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CeCloseHandle(file));
    EXPECT_FALSE(CeCloseHandle(oldHandle)) << "handles of the dead session are gone";
    EXPECT_EQ(CeRapiInit(), CERAPI_E_ALREADYINITIALIZED) << "the new session is the current one";
}

INSTANTIATE_TEST_SUITE_P(RemoteApi, InvokeAfterABlink,
                         ::testing::Values(BetweenDropAndInvoke{"Directly", false},
                                           BetweenDropAndInvoke{"AfterAFailedFileCall", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(InvokeReconnect, AWorkingSessionIsUsedAsItIs) {
    uint64_t accepted = Accepted();
    EXPECT_EQ(InvokeEcho(), S_OK);
    EXPECT_EQ(InvokeEcho(), S_OK);
    EXPECT_EQ(Accepted(), accepted) << "no new session for a live one";
}

TEST_F(InvokeReconnect, WithTheHandheldDownItFailsPromptly) {
    Machine().SetCable(false);
    uint64_t refused = Refused();
    auto call = std::async(std::launch::async, [&] { return InvokeEcho(); });
    ASSERT_EQ(call.wait_for(kHangGuard), std::future_status::ready);
    HRESULT result = call.get();
    EXPECT_TRUE(FAILED(result));
    EXPECT_NE(result, E_FAIL) << "a lost link is not the export's own failure";
    EXPECT_GE(Refused(), refused + 1) << "it knocked before giving up";
    EXPECT_EQ(Server().Stats().invocations, 0u);

    Machine().SetCable(true);
    EXPECT_FALSE(VersionAnswers()) << "file calls on the dead session still fail";
    EXPECT_EQ(Create(u"\\Temp\\A.bin"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(InvokeEcho(), S_OK) << "the next invocation finds the handheld back";
}

TEST_F(InvokeReconnect, WithNothingListeningItFails) {
    BlinkTheLink();
    Server().Stop();
    HRESULT result = InvokeEcho();
    EXPECT_TRUE(FAILED(result));
    EXPECT_NE(result, E_FAIL);
}

TEST_F(InvokeReconnect, WithoutCeRapiInitNothingIsOpened) {
    CeRapiUninit();
    uint64_t accepted = Accepted();
    EXPECT_EQ(InvokeEcho(), HRESULT_FROM_WIN32(ERROR_NOT_CONNECTED));
    EXPECT_EQ(Accepted(), accepted);
    EXPECT_FALSE(VersionAnswers());
}

TEST_F(InvokeReconnect, AnInitRacingTheInvocationKeepsOneWorkingSession) {
    for (int round = 0; round < 5; ++round) {
        BlinkTheLink();
        auto init = std::async(std::launch::async, [] { return CeRapiInit(); });
        HRESULT invoked = InvokeEcho();
        ASSERT_EQ(init.wait_for(kHangGuard), std::future_status::ready);
        HRESULT started = init.get();
        EXPECT_EQ(invoked, S_OK) << "round " << round;
        EXPECT_TRUE(started == S_OK || started == CERAPI_E_ALREADYINITIALIZED) << "round " << round;
        EXPECT_TRUE(VersionAnswers()) << "round " << round;
        EXPECT_EQ(CeRapiInit(), CERAPI_E_ALREADYINITIALIZED) << "round " << round;
    }
}

TEST_F(InvokeReconnect, TheRestartRequestReachesAHandheldWhoseLinkCameBackAfterACopyFailed) {
    // The update's own order: a write dies with the link, the link is back at once, and the
    // cold restart is asked for on the link that came back.
    Server().SetFaults({.dropLinkAfterBytes = 1000});
    HANDLE file = Create(u"\\Temp\\KERNEL.nb0");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Write(file, link_test::Pattern(16384)));
    ASSERT_TRUE(WaitFor([&] { return Machine().LinkUp(); }));
    EXPECT_EQ(CeRapiInvoke(u"HARLIX", u"ColdReset", 0, nullptr, nullptr, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(Server().Stats().invocations, 1u);
}

}  // namespace
