// The link server against the real client over loopback, with an in-process handheld.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "linked_desktop.h"
#include "platform/clock/clock.h"
#include "platform/rapi/local_memory.h"
#include "platform/rapi/rapi.h"
#include "platform/rapi/wire.h"
#include "emulator/object_store.h"
#include "platform/wince/api.h"

namespace {

using link_test::kHangGuard;
using link_test::Pattern;
using link_test::WaitFor;

class LinkServerTest : public link_test::LinkedDesktop {};

TEST_F(LinkServerTest, WritesReachTheObjectStoreByteForByte) {
    auto content = Pattern(40000);
    HANDLE file = Create(u"\\Temp\\Copy.bin");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    for (size_t at = 0; at < content.size(); at += 16384) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(16384, content.size() - at));
        ASSERT_TRUE(CeWriteFile(file, content.data() + at, chunk, &written, nullptr));
        EXPECT_EQ(written, chunk);
    }
    EXPECT_TRUE(CeSetEndOfFile(file));
    EXPECT_TRUE(CeCloseHandle(file));
    EXPECT_EQ(Machine().Store().ReadFile(u"\\Temp\\Copy.bin"), content);
}

TEST_F(LinkServerTest, AWriteLargerThanAFrameArrivesWhole) {
    auto content = Pattern(2 * rapi::wire::kMaxDataBytes + 5);
    HANDLE file = Create(u"\\Temp\\Big.bin");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(CeWriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
    EXPECT_EQ(written, content.size());
    EXPECT_TRUE(CeCloseHandle(file));
    EXPECT_EQ(Machine().Store().ReadFile(u"\\Temp\\Big.bin"), content);
}

TEST_F(LinkServerTest, SetEndOfFileCutsAnExistingFileAtThePosition) {
    ASSERT_TRUE(Machine().Store().WriteFile(u"\\Temp\\Cut.bin", Pattern(100)));
    HANDLE file = Create(u"\\Temp\\Cut.bin", OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const uint8_t head[3] = {9, 8, 7};
    DWORD written = 0;
    ASSERT_TRUE(CeWriteFile(file, head, 3, &written, nullptr));
    ASSERT_TRUE(CeSetEndOfFile(file));
    ASSERT_TRUE(CeCloseHandle(file));
    EXPECT_EQ(Machine().Store().ReadFile(u"\\Temp\\Cut.bin"), (std::vector<uint8_t>{9, 8, 7}));
}

// The store is full: the desktop's write fails with ERROR_DISK_FULL, nothing of it lands,
// and the session goes on (a smaller write that fits still arrives).
TEST_F(LinkServerTest, AWriteIntoAFullStoreFailsWithDiskFull) {
    auto& store = Machine().Store();
    std::filesystem::path filler = store.Root() / "Temp" / "filler.bin";
    std::ofstream(filler).flush();
    std::filesystem::resize_file(filler, store.Capacity() - store.UsedBytes() - 1000);  // sparse
    HANDLE file = Create(u"\\Temp\\Segment.nb0");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    auto content = Pattern(1001);
    DWORD written = 99;
    EXPECT_FALSE(CeWriteFile(file, content.data(), 1001, &written, nullptr));
    EXPECT_EQ(CeGetLastError(), DWORD(ERROR_DISK_FULL));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(store.FileSize(u"\\Temp\\Segment.nb0"), 0u);
    ASSERT_TRUE(CeWriteFile(file, content.data(), 1000, &written, nullptr));
    EXPECT_EQ(written, 1000u);
    EXPECT_TRUE(CeCloseHandle(file));
    EXPECT_EQ(store.UsedBytes(), store.Capacity());
}

struct RefusedOpen {
    const char* name;
    const char16_t* path;
    DWORD creation;
};

class RefusedOpens : public LinkServerTest, public ::testing::WithParamInterface<RefusedOpen> {};

TEST_P(RefusedOpens, PassTheHandheldsOwnErrorThrough) {
    const RefusedOpen& c = GetParam();
    DWORD expected = 0;
    ASSERT_TRUE(Machine().RunDeviceCall([&] {
        HANDLE direct = CreateFileW(c.path, GENERIC_WRITE, 0, nullptr, c.creation, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_EQ(direct, INVALID_HANDLE_VALUE);
        expected = GetLastError();
    }));
    ASSERT_NE(expected, 0u);
    EXPECT_EQ(Create(c.path, c.creation), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CeGetLastError(), expected);
    EXPECT_EQ(CeRapiGetError(), S_OK) << "the link itself did not fail";
}

INSTANTIATE_TEST_SUITE_P(
    LinkServer, RefusedOpens,
    ::testing::Values(RefusedOpen{"MissingFile", u"\\Temp\\Absent.bin", OPEN_EXISTING},
                      RefusedOpen{"MissingFolder", u"\\NoSuchFolder\\A.bin", CREATE_ALWAYS},
                      RefusedOpen{"EscapingPath", u"\\Temp\\..\\..\\Escape.bin", CREATE_ALWAYS},
                      RefusedOpen{"NotRooted", u"Temp\\A.bin", CREATE_ALWAYS}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinkServerTest, HandlesTheSessionNeverIssuedAreRefused) {
    const uint8_t byte = 1;
    DWORD written = 99;
    for (HANDLE bogus : {reinterpret_cast<HANDLE>(uintptr_t{12345}), INVALID_HANDLE_VALUE,
                         static_cast<HANDLE>(nullptr)}) {
        EXPECT_FALSE(CeWriteFile(bogus, &byte, 1, &written, nullptr));
        EXPECT_EQ(written, 0u);
        EXPECT_EQ(CeGetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_FALSE(CeSetEndOfFile(bogus));
        EXPECT_FALSE(CeCloseHandle(bogus));
    }
    HANDLE file = Create(u"\\Temp\\Once.bin");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CeCloseHandle(file));
    EXPECT_FALSE(CeCloseHandle(file)) << "a closed handle must not be closed twice";
    EXPECT_EQ(CeGetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(LinkServerTest, DeleteRemovesTheFileAndReportsAMissingOne) {
    ASSERT_TRUE(Machine().Store().WriteFile(u"\\Windows\\StartUp\\Gone.lnk", {1, 2}));
    EXPECT_TRUE(CeDeleteFile(u"\\WINDOWS\\STARTUP\\GONE.LNK")) << "names ignore letter case";
    EXPECT_FALSE(Machine().Store().Exists(u"\\Windows\\StartUp\\Gone.lnk"));
    EXPECT_FALSE(CeDeleteFile(u"\\Windows\\StartUp\\Gone.lnk"));
    EXPECT_NE(CeGetLastError(), 0u);
}

TEST_F(LinkServerTest, StartupFolderIsAnsweredOnlyWhenItFits) {
    const std::u16string expected = tova::Machine::StartupFolder();
    WCHAR buffer[64];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    DWORD length = CeGetSpecialFolderPath(CSIDL_STARTUP, 64, buffer);
    ASSERT_EQ(length, expected.size());
    EXPECT_EQ(std::u16string(buffer), expected);

    std::fill(std::begin(buffer), std::end(buffer), u'#');
    auto exact = static_cast<DWORD>(expected.size());  // no room for the NUL
    EXPECT_EQ(CeGetSpecialFolderPath(CSIDL_STARTUP, exact, buffer), 0u);
    EXPECT_EQ(CeGetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(buffer[0], u'#') << "a failed query leaves the buffer alone";
    EXPECT_EQ(CeGetSpecialFolderPath(CSIDL_STARTUP, exact + 1, buffer), exact);

    EXPECT_EQ(CeGetSpecialFolderPath(0x0002 /* programs */, 64, buffer), 0u);
}

TEST_F(LinkServerTest, VersionIsWindowsCe420) {
    CEOSVERSIONINFO info{};
    ASSERT_TRUE(CeGetVersionEx(&info));
    EXPECT_EQ(info.dwMajorVersion, 4u);
    EXPECT_EQ(info.dwMinorVersion, 20u);
    EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_CE);
}

TEST_F(LinkServerTest, HandlesLeftOpenAreClosedWhenTheSessionEnds) {
    HANDLE file = Create(u"\\Temp\\Held.bin");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    auto exclusiveOpen = [&] {
        bool opened = false;
        Machine().RunDeviceCall([&] {
            HANDLE h = CreateFileW(u"\\Temp\\Held.bin", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
            opened = h != INVALID_HANDLE_VALUE;
            if (opened) CloseHandle(h);
        });
        return opened;
    };
    ASSERT_FALSE(exclusiveOpen()) << "the session's handle holds the file";
    CeRapiUninit();
    EXPECT_TRUE(WaitFor(exclusiveOpen));
}

TEST_F(LinkServerTest, AnUnpluggedCableFailsCallsAndInitWaitsForTheReplug) {
    Machine().SetCable(false);
    CEOSVERSIONINFO info{};
    EXPECT_FALSE(CeGetVersionEx(&info));
    EXPECT_NE(CeRapiGetError(), S_OK);
    EXPECT_EQ(Create(u"\\Temp\\A.bin"), INVALID_HANDLE_VALUE);

    auto init = std::async(std::launch::async, [] { return CeRapiInit(); });
    uint64_t refusedBefore = handheld_->Server().Stats().connectionsRefused;
    ASSERT_TRUE(WaitFor([&] { return handheld_->Server().Stats().connectionsRefused > refusedBefore + 1; }))
        << "init keeps knocking while the link is down";
    EXPECT_EQ(init.wait_for(std::chrono::seconds(0)), std::future_status::timeout);

    Machine().SetCable(true);
    ASSERT_EQ(init.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_EQ(init.get(), S_OK);
    EXPECT_TRUE(CeGetVersionEx(&info));
}

TEST_F(LinkServerTest, UninitCancelsAnInitThatIsStillWaiting) {
    CeRapiUninit();
    Machine().SetCable(false);
    auto init = std::async(std::launch::async, [] { return CeRapiInit(); });
    uint64_t refusedBefore = handheld_->Server().Stats().connectionsRefused;
    ASSERT_TRUE(WaitFor([&] { return handheld_->Server().Stats().connectionsRefused > refusedBefore; }));
    CeRapiUninit();
    ASSERT_EQ(init.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_EQ(init.get(), E_FAIL);
    Machine().SetCable(true);
    tova::ScaledSleep(1000);
    CEOSVERSIONINFO info{};
    EXPECT_FALSE(CeGetVersionEx(&info)) << "the cancelled init must not have connected later";
}

TEST_F(LinkServerTest, AResetEndsTheSessionAndTheNextInitReconnects) {
    uint32_t boots = Machine().BootCount();
    Machine().RequestReset(tova::ResetKind::kWarm);
    ASSERT_TRUE(Machine().WaitUntilBootCount(boots + 1, 100000));
    CEOSVERSIONINFO info{};
    EXPECT_FALSE(CeGetVersionEx(&info)) << "the old session died with the reset";
    EXPECT_EQ(CeRapiInit(), S_OK);
    EXPECT_TRUE(CeGetVersionEx(&info));
}

TEST_F(LinkServerTest, InitWithAWorkingSessionKeepsIt) {
    HANDLE file = Create(u"\\Temp\\Kept.bin");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CeRapiInit(), CERAPI_E_ALREADYINITIALIZED);
    EXPECT_TRUE(CeCloseHandle(file)) << "the handle still belongs to the same session";
}

TEST_F(LinkServerTest, AnInvocationInFlightFailsPromptlyWhenTheCableIsPulled) {
    handheld_->PlaceLibrary();
    auto call = std::async(std::launch::async, [] {
        return CeRapiInvoke(u"HARLIX", u"WaitForRelease", 0, nullptr, nullptr, nullptr, nullptr, 0);
    });
    ASSERT_TRUE(WaitFor([&] { return handheld_->Server().Stats().invocations == 1; }));
    Machine().SetCable(false);
    // The export is still waiting for its release, so only the link drop can end the call.
    ASSERT_EQ(call.wait_for(kHangGuard), std::future_status::ready);
    HRESULT result = call.get();
    EXPECT_TRUE(FAILED(result));
    EXPECT_NE(result, E_FAIL) << "a lost link is not the export's own failure";
}

TEST_F(LinkServerTest, AFileCallInFlightFailsPromptlyWhenTheCableIsPulled) {
    handheld_->Server().SetFileCallDelayMs(10u * 60 * 60 * 1000);
    auto call = std::async(std::launch::async, [] {
        CEOSVERSIONINFO info{};
        return CeGetVersionEx(&info);
    });
    ASSERT_TRUE(WaitFor([&] { return handheld_->Server().Stats().fileCallsInProgress == 1; }));
    Machine().SetCable(false);
    ASSERT_EQ(call.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_FALSE(call.get());
}

TEST_F(LinkServerTest, AnInvocationDoesNotWaitForAFileCallNorTheOtherWayRound) {
    handheld_->PlaceLibrary();
    handheld_->Server().SetFileCallDelayMs(10u * 60 * 60 * 1000);
    auto slowFileCall = std::async(std::launch::async, [] {
        CEOSVERSIONINFO info{};
        return CeGetVersionEx(&info);
    });
    ASSERT_TRUE(WaitFor([&] { return handheld_->Server().Stats().fileCallsInProgress == 1; }));
    uint8_t* input = static_cast<uint8_t*>(win32::LocalAlloc(LPTR, 4));
    DWORD outputBytes = 0;
    BYTE* output = nullptr;
    EXPECT_EQ(CeRapiInvoke(u"HARLIX", u"Echo", 4, input, &outputBytes, &output, nullptr, 0), S_OK);
    win32::LocalFree(output);
    EXPECT_EQ(handheld_->Server().Stats().fileCallsInProgress, 1u) << "the file call is still running";
    handheld_->Server().SetFileCallDelayMs(0);

    auto slowInvocation = std::async(std::launch::async, [] {
        return CeRapiInvoke(u"HARLIX", u"WaitForRelease", 0, nullptr, nullptr, nullptr, nullptr, 0);
    });
    ASSERT_TRUE(WaitFor([&] { return handheld_->Server().Stats().invocations == 2; }));
    HANDLE file = Create(u"\\Temp\\Meanwhile.bin");
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CeCloseHandle(file));
    EXPECT_EQ(slowInvocation.wait_for(std::chrono::seconds(0)), std::future_status::timeout);

    handheld_->ReleaseWaiters();
    EXPECT_EQ(slowInvocation.get(), S_OK);
    Machine().SetCable(false);  // ends the delayed file call
    EXPECT_FALSE(slowFileCall.get());
}

// ---- Block-mode invocation ---------------------------------------------------------------

class Invocation : public LinkServerTest {
protected:
    void SetUp() override {
        LinkServerTest::SetUp();
        handheld_->PlaceLibrary();
        desktopBlocks_ = win32::LocalBlocksOutstanding();
        handheldBlocks_ = Machine().OutstandingLocalAllocations();
    }
    BYTE* Input(const std::vector<uint8_t>& bytes) {
        auto* block = static_cast<BYTE*>(win32::LocalAlloc(LPTR, bytes.size()));
        std::memcpy(block, bytes.data(), bytes.size());
        return block;
    }
    void ExpectNothingLeaked() {
        EXPECT_EQ(win32::LocalBlocksOutstanding(), desktopBlocks_) << "desktop blocks";
        EXPECT_EQ(Machine().OutstandingLocalAllocations(), handheldBlocks_) << "handheld blocks";
    }
    size_t desktopBlocks_ = 0;
    size_t handheldBlocks_ = 0;
};

TEST_F(Invocation, InputAndOutputTravelAndAreReleasedOnBothSides) {
    std::vector<uint8_t> input = Pattern(300);
    DWORD outputBytes = 0;
    BYTE* output = nullptr;
    ASSERT_EQ(CeRapiInvoke(u"HARLIX", u"Echo", 300, Input(input), &outputBytes, &output, nullptr, 0), S_OK);
    ASSERT_EQ(outputBytes, 300u);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(output, output + 300), input);
    EXPECT_EQ(win32::LocalFree(output), nullptr) << "the output is a desktop LocalAlloc block";
    ExpectNothingLeaked();
}

TEST_F(Invocation, AFullHandheldPathNamesTheLibraryToo) {
    handheld_->PlaceLibrary(u"\\Temp\\harlix.dll");
    EXPECT_EQ(CeRapiInvoke(u"\\Temp\\harlix.dll", u"ColdReset", 0, nullptr, nullptr, nullptr, nullptr, 0), S_OK);
}

struct FailedInvocation {
    const char* name;
    const char16_t* library;
    const char16_t* function;
    HRESULT expected;
};

class FailedInvocations : public Invocation, public ::testing::WithParamInterface<FailedInvocation> {};

TEST_P(FailedInvocations, GiveAFailureResultAndReleaseEverything) {
    const FailedInvocation& c = GetParam();
    DWORD outputBytes = 77;
    BYTE* output = reinterpret_cast<BYTE*>(uintptr_t{1});
    HRESULT result = CeRapiInvoke(c.library, c.function, 8, Input(std::vector<uint8_t>(8, 'x')),
                                  &outputBytes, &output, nullptr, 0);
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(outputBytes, 0u);
    EXPECT_EQ(output, nullptr);
    ExpectNothingLeaked();
}

INSTANTIATE_TEST_SUITE_P(
    LinkServer, FailedInvocations,
    ::testing::Values(
        FailedInvocation{"MissingLibrary", u"NOSUCH", u"FnTOVAInfo", HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)},
        FailedInvocation{"MissingExport", u"HARLIX", u"NoSuchExport", HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND)},
        FailedInvocation{"NonAsciiExport", u"HARLIX", u"Fn\u00e9", HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND)},
        FailedInvocation{"EscapingLibrary", u"..\\..\\HARLIX", u"FnTOVAInfo", HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)},
        FailedInvocation{"OutputOverTheLimit", u"HARLIX", u"HugeOutput", HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Invocation, AnExportThatReleasesItsInputIsNotReleasedTwice) {
    EXPECT_EQ(CeRapiInvoke(u"HARLIX", u"FreesInput", 8, Input(std::vector<uint8_t>(8, 1)), nullptr,
                           nullptr, nullptr, 0), S_OK);
    ExpectNothingLeaked();
}

TEST_F(Invocation, OutputIsDroppedWhenTheCallerDoesNotTakeIt) {
    EXPECT_EQ(CeRapiInvoke(u"HARLIX", u"Echo", 8, Input(std::vector<uint8_t>(8, 1)), nullptr, nullptr,
                           nullptr, 0), S_OK);
    ExpectNothingLeaked();
}

TEST_F(Invocation, StreamModeIsRefusedAndTheInputStillReleased) {
    IRAPIStream* stream = reinterpret_cast<IRAPIStream*>(uintptr_t{1});
    EXPECT_EQ(CeRapiInvoke(u"HARLIX", u"Echo", 8, Input(std::vector<uint8_t>(8, 1)), nullptr, nullptr,
                           &stream, 0), E_NOTIMPL);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(handheld_->Server().Stats().invocations, 0u);
    ExpectNothingLeaked();
}

TEST_F(Invocation, WithoutASessionTheInputIsStillReleased) {
    CeRapiUninit();
    HRESULT result = CeRapiInvoke(u"HARLIX", u"Echo", 8, Input(std::vector<uint8_t>(8, 1)), nullptr,
                                  nullptr, nullptr, 0);
    EXPECT_EQ(result, HRESULT_FROM_WIN32(ERROR_NOT_CONNECTED));
    ExpectNothingLeaked();
}

}  // namespace
