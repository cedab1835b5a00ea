// The four exports called from the desktop side through CeRapiInvoke, over the sync link
// of a running emulated handheld, as the wizard calls them.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "device_info_bytes.h"
#include "emulated_handheld.h"
#include "platform/rapi/local_memory.h"
#include "platform/rapi/rapi.h"
#include "segment_files.h"
#include "shared/service_names.h"
#include "emulator/link/link_server.h"
#include "emulator/object_store.h"
#include "emulator/registry.h"

namespace harlix_test {
namespace {

struct RemoteResult {
    HRESULT hr = S_OK;
    std::vector<uint8_t> output;
    bool outputReturned = false;
};

class RemoteExportsTest : public ::testing::Test {
protected:
    void SetUp() override {
        handheld_ = std::make_unique<EmulatedHandheld>(tova::MachineConfig{});
        ASSERT_TRUE(handheld_->Ready());
        server_ = std::make_unique<tova::link::LinkServer>(handheld_->Machine(), 0);
        rapi::SetEndpoint("127.0.0.1:" + std::to_string(server_->Port()));
        ASSERT_EQ(CeRapiInit(), S_OK);
    }

    void TearDown() override {
        CeRapiUninit();
        if (server_) server_->Stop();
        server_.reset();
        handheld_.reset();
        rapi::SetEndpoint("");
    }

    // Copies the built library to \Windows over the link, as the wizard does.
    void CopyLibraryOverLink() {
        tova::ObjectStore& store = handheld_->Machine().Store();
        store.RemoveFile(u"\\Windows\\HARLIX.DLL");
        ASSERT_FALSE(store.Exists(u"\\Windows\\HARLIX.DLL"));
        std::ifstream in(BuiltModulePath(), std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        ASSERT_FALSE(bytes.empty());
        HANDLE file = CeCreateFile(u"\\Windows\\HARLIX.DLL", GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        EXPECT_TRUE(CeWriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr));
        EXPECT_EQ(written, bytes.size());
        EXPECT_TRUE(CeCloseHandle(file));
    }

    // One block-mode invocation with the given input, its output released as the rule says.
    RemoteResult Invoke(const char16_t* exportName, const std::vector<uint8_t>& input) {
        RemoteResult result;
        BYTE* block = static_cast<BYTE*>(win32::LocalAlloc(LPTR, input.size() + 8));
        std::memcpy(block, input.data(), input.size());
        DWORD cbOutput = 0;
        BYTE* output = nullptr;
        result.hr = CeRapiInvoke(kServiceLibraryName, exportName, DWORD(input.size()), block,
                                 &cbOutput, &output, nullptr, 0);
        if (output != nullptr) {
            result.outputReturned = true;
            result.output.assign(output, output + cbOutput);
            win32::LocalFree(output);
        }
        return result;
    }

    RemoteResult InvokeWithAll(const char16_t* exportName) {
        return Invoke(exportName, EmulatedHandheld::AllInput());
    }

    std::unique_ptr<EmulatedHandheld> handheld_;
    std::unique_ptr<tova::link::LinkServer> server_;
};

TEST_F(RemoteExportsTest, FnTOVAInfoSendsTheWholeRecord) {
    CopyLibraryOverLink();
    const size_t liveBefore = handheld_->Machine().OutstandingLocalAllocations();
    const RemoteResult r = InvokeWithAll(kExportFnTOVAInfo.wide);
    EXPECT_EQ(r.hr, S_OK);
    const RomFacts rom;
    const ExpectedRecord expected{1, 1, 100, rom.languageId, 64, 48, 0x02000200, rom.build,
                                  rom.versionText, u"TOVA5"};
    EXPECT_EQ(FirstDifference(r.output, RecordBytes(expected)), "");
    EXPECT_EQ(handheld_->Machine().OutstandingLocalAllocations(), liveBefore)
        << "the handheld's copy of the record was not released";
}

TEST_F(RemoteExportsTest, FnTOVAInfoRefusesOtherInput) {
    const std::vector<uint8_t> all = {'A', 0, 'L', 0, 'l', 0, 0, 0};
    const RemoteResult r = Invoke(kExportFnTOVAInfo.wide, all);
    EXPECT_EQ(r.hr, E_FAIL);
    EXPECT_FALSE(r.outputReturned);
}

TEST_F(RemoteExportsTest, IsCheckSumOkVerifiesTheCopiedSegments) {
    ASSERT_TRUE(WriteSegmentFiles(handheld_->Machine(), true));
    const RemoteResult ok = InvokeWithAll(kExportIsCheckSumOk.wide);
    EXPECT_EQ(ok.hr, S_OK);
    EXPECT_FALSE(ok.outputReturned);

    ASSERT_TRUE(handheld_->Machine().Store().WriteFile(u"\\Temp\\SYNC.nb0", {1, 2, 3}));
    EXPECT_EQ(InvokeWithAll(kExportIsCheckSumOk.wide).hr, E_FAIL);
}

// A reset cuts the link, so the invocation's own result is not relied on, as on the desktop.
TEST_F(RemoteExportsTest, WarmResetRebootsWarmWithoutTheDrivers) {
    tova::Machine& m = handheld_->Machine();
    const uint32_t boots = m.BootCount();
    InvokeWithAll(kExportWarmReset.wide);
    ASSERT_TRUE(m.WaitUntilBootCount(boots + 1, kBootWaitMs));
    EXPECT_TRUE(m.LastBootWarm());
    EXPECT_FALSE(m.Reg().KeyExists(u"Drivers\\BuiltIn\\USB"));
    EXPECT_FALSE(m.LinkUp()) << "without its USB driver the handheld offers no link";
}

TEST_F(RemoteExportsTest, ColdResetBootsColdAndTheLinkReturns) {
    tova::Machine& m = handheld_->Machine();
    ASSERT_TRUE(m.Store().WriteFile(u"\\Temp\\lost.bin", {1}));
    const uint32_t boots = m.BootCount();
    InvokeWithAll(kExportColdReset.wide);
    ASSERT_TRUE(m.WaitUntilBootCount(boots + 1, kBootWaitMs));
    EXPECT_FALSE(m.LastBootWarm());
    EXPECT_FALSE(m.Store().Exists(u"\\Temp\\lost.bin"));

    // The desktop links again and finds the library gone with the rest of the store.
    CeRapiUninit();
    ASSERT_EQ(CeRapiInit(), S_OK);
    EXPECT_NE(InvokeWithAll(kExportFnTOVAInfo.wide).hr, S_OK);
    CopyLibraryOverLink();
    EXPECT_EQ(InvokeWithAll(kExportFnTOVAInfo.wide).hr, S_OK);
}

}  // namespace
}  // namespace harlix_test
