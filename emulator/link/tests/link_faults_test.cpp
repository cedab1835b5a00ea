// Link faults armed on the link server, seen through the real client: the cable pulled or
// the link dropped by a chosen write, a handheld file damaged before a chosen export.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "linked_desktop.h"
#include "platform/rapi/wire.h"
#include "emulator/object_store.h"

namespace {

using link_test::kHangGuard;
using link_test::LinkedDesktop;
using link_test::Pattern;
using link_test::WaitFor;
using tova::link::LinkFaults;

// ---- Byte-timed faults -------------------------------------------------------------------

enum class Knob { kPullCable, kDropLink };

struct ByteCase {
    const char* name;
    uint64_t threshold;
    std::vector<size_t> writes;  // one CeWriteFile each, into one file
    size_t failingWrite;         // the write during which the link goes
};

class ByteFaults : public LinkedDesktop,
                   public ::testing::WithParamInterface<std::tuple<Knob, ByteCase>> {
protected:
    Knob TheKnob() const { return std::get<0>(GetParam()); }
    const ByteCase& Case() const { return std::get<1>(GetParam()); }

    void Arm(uint64_t bytes) {
        LinkFaults faults;
        if (TheKnob() == Knob::kPullCable) {
            faults.pullCableAfterBytes = bytes;
        } else {
            faults.dropLinkAfterBytes = bytes;
            faults.dropLinkMs = 0;
        }
        Server().SetFaults(faults);
    }
};

TEST_P(ByteFaults, TheWriteReachingTheCountFailsWithExactlyThatManyBytesWritten) {
    const ByteCase& c = Case();
    // Written before the fault is armed: not counted.
    HANDLE before = Create(u"\\Temp\\Before.bin");
    ASSERT_NE(before, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(Write(before, Pattern(3000)));
    ASSERT_TRUE(CeCloseHandle(before));

    Arm(c.threshold);
    EXPECT_TRUE(Server().Faults().Armed());
    HANDLE file = Create(u"\\Temp\\Segment.bin");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> sent;
    for (size_t i = 0; i < c.writes.size(); ++i) {
        auto chunk = Pattern(c.writes[i], static_cast<uint8_t>(i));
        sent.insert(sent.end(), chunk.begin(), chunk.end());
        bool ok = Write(file, chunk);
        if (i < c.failingWrite) {
            ASSERT_TRUE(ok) << "write " << i << " comes before the count is reached";
        } else {
            ASSERT_FALSE(ok) << "write " << i << " is in flight when the link goes";
            EXPECT_NE(CeRapiGetError(), S_OK) << "a link failure, not the handheld's refusal";
            break;
        }
    }
    sent.resize(c.threshold);
    EXPECT_EQ(Machine().Store().ReadFile(u"\\Temp\\Segment.bin"), sent);
    EXPECT_FALSE(Server().Faults().Armed()) << "a fault fires once";
    EXPECT_FALSE(VersionAnswers()) << "the session died with the link";
}

TEST_P(ByteFaults, TheCableIsOutOrBackAndTheKnobDoesNotFireAgain) {
    Arm(Case().threshold);
    HANDLE file = Create(u"\\Temp\\Segment.bin");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_FALSE(Write(file, Pattern(Case().threshold + 1)));

    if (TheKnob() == Knob::kPullCable) {
        EXPECT_FALSE(Machine().CableAttached());
        tova::ScaledSleep(5000);
        EXPECT_FALSE(Machine().LinkUp()) << "a pulled cable stays out";
        EXPECT_EQ(Create(u"\\Temp\\Later.bin"), INVALID_HANDLE_VALUE);
        EXPECT_TRUE(FAILED(InvokeEcho()));
        Machine().SetCable(true);
    }
    ASSERT_TRUE(WaitFor([&] { return Machine().LinkUp(); }));
    ASSERT_EQ(CeRapiInit(), S_OK) << "a new session on the link that came back";
    HANDLE again = Create(u"\\Temp\\Again.bin");
    ASSERT_NE(again, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Write(again, Pattern(2 * Case().threshold + 10)));
    EXPECT_TRUE(CeCloseHandle(again));
    EXPECT_TRUE(Machine().CableAttached());
}

const ByteCase kByteCases[] = {
    {"CrossingWrite", 5000, {3000, 3000, 3000}, 1},
    {"ExactWrite", 4096, {4096, 10}, 0},
    {"OneByte", 1, {100}, 0},
    {"AfterManyWrites", 16384 * 3 + 5, {16384, 16384, 16384, 16384}, 3},
    {"WriteLongerThanAFrame", rapi::wire::kMaxDataBytes + 10, {2 * rapi::wire::kMaxDataBytes}, 0},
};

INSTANTIATE_TEST_SUITE_P(
    LinkFaults, ByteFaults,
    ::testing::Combine(::testing::Values(Knob::kPullCable, Knob::kDropLink), ::testing::ValuesIn(kByteCases)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param) == Knob::kPullCable ? "PullCable" : "DropLink") +
               std::get<1>(info.param).name;
    });

class LinkFaultsTest : public LinkedDesktop {};

TEST_F(LinkFaultsTest, ADroppedLinkComesBackAfterTheDelayOnTheScaledClock) {
    constexpr uint32_t kDropMs = 20000;
    Server().SetFaults({.dropLinkAfterBytes = 100, .dropLinkMs = kDropMs});
    EXPECT_EQ(Server().Faults().dropLinkMs, kDropMs);
    HANDLE file = Create(u"\\Temp\\Segment.bin");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    uint64_t start = tova::NominalNowMs();
    EXPECT_FALSE(Write(file, Pattern(1000)));
    EXPECT_FALSE(Machine().LinkUp());
    ASSERT_TRUE(WaitFor([&] { return Machine().LinkUp(); }));
    EXPECT_GE(tova::NominalNowMs() - start, kDropMs) << "back too early";
    EXPECT_EQ(Server().Faults().dropLinkMs, 0u) << "fired and cleared";
    ASSERT_EQ(CeRapiInit(), S_OK);
    EXPECT_TRUE(VersionAnswers());
}

TEST_F(LinkFaultsTest, StopDuringADropReturnsAtOnceWithTheCableBackIn) {
    Server().SetFaults({.dropLinkAfterBytes = 10, .dropLinkMs = 10u * 60 * 60 * 1000});
    HANDLE file = Create(u"\\Temp\\Segment.bin");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Write(file, Pattern(100)));
    EXPECT_FALSE(Machine().CableAttached());
    auto stop = std::async(std::launch::async, [&] { Server().Stop(); });
    ASSERT_EQ(stop.wait_for(kHangGuard), std::future_status::ready) << "Stop waited for the drop";
    EXPECT_TRUE(Machine().CableAttached());
}

TEST_F(LinkFaultsTest, PullAndDropReachedByOneWriteLeaveTheCableOut) {
    Server().SetFaults({.pullCableAfterBytes = 500, .dropLinkAfterBytes = 500, .dropLinkMs = 100});
    HANDLE file = Create(u"\\Temp\\Segment.bin");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Write(file, Pattern(1000)));
    tova::ScaledSleep(2000);
    EXPECT_FALSE(Machine().CableAttached()) << "the pull outlasts the drop";
}

TEST_F(LinkFaultsTest, ArmedFaultsReadBackAsWhatIsStillToGoAndSetAgainChangeNothing) {
    Server().SetFaults({.pullCableAfterBytes = 1000, .dropLinkAfterBytes = 5000, .dropLinkMs = 7});
    HANDLE file = Create(u"\\Temp\\Segment.bin");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(Write(file, Pattern(300)));
    LinkFaults armed = Server().Faults();
    EXPECT_EQ(armed.pullCableAfterBytes, 700u);
    EXPECT_EQ(armed.dropLinkAfterBytes, 4700u);
    EXPECT_EQ(armed.dropLinkMs, 7u);
    Server().SetFaults(armed);
    ASSERT_TRUE(Write(file, Pattern(699)));
    EXPECT_TRUE(Machine().CableAttached());
    EXPECT_FALSE(Write(file, Pattern(2)));
    EXPECT_FALSE(Machine().CableAttached());
    EXPECT_EQ(Machine().Store().ReadFile(u"\\Temp\\Segment.bin")->size(), 1000u);
}

TEST_F(LinkFaultsTest, SettingNoFaultsDisarmsThem) {
    Server().SetFaults({.pullCableAfterBytes = 10, .damageBeforeExport = "Echo", .damageFile = u"\\Temp\\A"});
    Server().SetFaults({});
    EXPECT_FALSE(Server().Faults().Armed());
    HANDLE file = Create(u"\\Temp\\Segment.bin");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Write(file, Pattern(100)));
    EXPECT_TRUE(Machine().CableAttached());
}

TEST_F(LinkFaultsTest, WritesSideBySideNeverOvershootTheCount) {
    constexpr uint64_t kThreshold = 30000;
    Server().SetFaults({.pullCableAfterBytes = kThreshold});
    auto writer = [&](const char16_t* path) {
        HANDLE file = Create(path);
        if (file == INVALID_HANDLE_VALUE) return;
        while (Write(file, Pattern(700))) {
        }
    };
    std::thread a(writer, u"\\Temp\\A.bin"), b(writer, u"\\Temp\\B.bin");
    a.join();
    b.join();
    // The pull closes the other writer's connection while the handheld may still be
    // writing its last chunk: that write ends on the handheld after its desktop gave up.
    ASSERT_TRUE(WaitFor([&] { return Server().Stats().fileCallsInProgress == 0; }));
    auto size = [&](const char16_t* path) {
        auto bytes = Machine().Store().ReadFile(path);
        return bytes ? bytes->size() : 0;
    };
    EXPECT_EQ(size(u"\\Temp\\A.bin") + size(u"\\Temp\\B.bin"), kThreshold);
    EXPECT_FALSE(Machine().CableAttached());
}

TEST_F(LinkFaultsTest, FaultsArmedWhileWritesRunStillFire) {
    std::atomic<bool> failed{false};
    std::thread writer([&] {
        HANDLE file = Create(u"\\Temp\\Segment.bin");
        for (int i = 0; i < 100000 && file != INVALID_HANDLE_VALUE; ++i) {
            if (!Write(file, Pattern(500))) break;
        }
        failed = true;
    });
    for (int i = 0; i < 50 && !failed; ++i) {
        Server().SetFaults({.pullCableAfterBytes = 1000000, .dropLinkAfterBytes = 1000000});
        Server().Faults();
    }
    Server().SetFaults({.pullCableAfterBytes = 20000});
    writer.join();
    EXPECT_FALSE(Machine().CableAttached());
}

// ---- Damage before an export ---------------------------------------------------------------

class DamageFault : public LinkedDesktop {
protected:
    void SetUp() override {
        LinkedDesktop::SetUp();
        handheld_->PlaceLibrary();
        ASSERT_TRUE(Machine().Store().WriteFile(u"\\Temp\\OS.nb0", original_));
    }
    std::vector<uint8_t> Damaged() const {
        auto bytes = original_;
        bytes[0] = static_cast<uint8_t>(~bytes[0]);
        return bytes;
    }
    std::optional<std::vector<uint8_t>> Segment() { return Machine().Store().ReadFile(u"\\Temp\\OS.nb0"); }

    const std::vector<uint8_t> original_ = Pattern(5000, 0x5A);
};

TEST_F(DamageFault, TheFileIsDamagedWhenTheNamedExportIsInvokedAndBeforeItRuns) {
    Server().SetFaults({.damageBeforeExport = "WaitForRelease", .damageFile = u"\\TEMP\\os.NB0"});
    ASSERT_EQ(InvokeEcho(), S_OK);
    EXPECT_EQ(Segment(), original_) << "another export leaves it alone";
    EXPECT_TRUE(Server().Faults().Armed());

    auto call = std::async(std::launch::async, [] {
        return CeRapiInvoke(u"HARLIX", u"WaitForRelease", 0, nullptr, nullptr, nullptr, nullptr, 0);
    });
    ASSERT_TRUE(WaitFor([&] { return Server().Stats().invocations == 2; }));
    ASSERT_TRUE(WaitFor([&] { return Segment() == Damaged(); }));
    EXPECT_EQ(call.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
        << "the damage is there while the export still runs";
    handheld_->ReleaseWaiters();
    EXPECT_EQ(call.get(), S_OK);
    EXPECT_FALSE(Server().Faults().Armed());
}

TEST_F(DamageFault, FiresOnceAcrossInvocations) {
    Server().SetFaults({.damageBeforeExport = "Echo", .damageFile = u"\\Temp\\OS.nb0"});
    ASSERT_EQ(InvokeEcho(), S_OK);
    ASSERT_EQ(InvokeEcho(), S_OK);
    EXPECT_EQ(Segment(), Damaged()) << "inverted once, not back again";
}

TEST_F(DamageFault, ALibraryWithoutTheExportDoesNotSetItOff) {
    Server().SetFaults({.damageBeforeExport = "IsCheckSumOk", .damageFile = u"\\Temp\\OS.nb0"});
    EXPECT_EQ(CeRapiInvoke(u"NOSUCH", u"IsCheckSumOk", 0, nullptr, nullptr, nullptr, nullptr, 0),
              HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(Segment(), original_);
    EXPECT_EQ(CeRapiInvoke(u"HARLIX", u"IsCheckSumOk", 0, nullptr, nullptr, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(Segment(), Damaged());
}

struct OddFile {
    const char* name;
    const char16_t* path;
    std::optional<std::vector<uint8_t>> content;  // nullopt: no such file
};

class DamageOfOddFiles : public DamageFault, public ::testing::WithParamInterface<OddFile> {};

TEST_P(DamageOfOddFiles, AreLeftAsTheyAreAndTheKnobClears) {
    const OddFile& c = GetParam();
    if (c.content) {
        ASSERT_TRUE(Machine().Store().WriteFile(c.path, *c.content));
    }
    Server().SetFaults({.damageBeforeExport = "Echo", .damageFile = c.path});
    EXPECT_EQ(InvokeEcho(), S_OK);
    EXPECT_EQ(Machine().Store().ReadFile(c.path), c.content);
    EXPECT_FALSE(Server().Faults().Armed());
    EXPECT_EQ(Segment(), original_);
}

INSTANTIATE_TEST_SUITE_P(LinkFaults, DamageOfOddFiles,
                         ::testing::Values(OddFile{"Missing", u"\\Temp\\KERNEL.nb0", std::nullopt},
                                           OddFile{"MissingFolder", u"\\Gone\\KERNEL.nb0", std::nullopt},
                                           OddFile{"Empty", u"\\Temp\\Empty.nb0", std::vector<uint8_t>{}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
