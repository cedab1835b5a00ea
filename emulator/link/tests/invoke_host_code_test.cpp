// What a desktop writes into the handheld never runs as host code: a shared object copied
// over the link under the service library's name or a new one cannot be invoked (its
// constructor, which would leave a marker, never runs), and a handheld started without host
// modules answers every invocation with a failure while its link goes on working.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "emulator/object_store.h"
#include "linked_desktop.h"
#include "platform/wince/api.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> HostFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class InvokeHostCode : public link_test::LinkedDesktop {
protected:
    void SetUp() override {
        marker_ = fs::temp_directory_path() / ("tova-intruder-" + std::to_string(::getpid()));
        fs::remove(marker_);
        ::setenv("TOVA_INTRUDER_MARKER", marker_.c_str(), 1);
        LinkedDesktop::SetUp();
    }
    void TearDown() override {
        LinkedDesktop::TearDown();
        ::unsetenv("TOVA_INTRUDER_MARKER");
        fs::remove(marker_);
    }
    // Copies `bytes` to the handheld as a desktop does: created, written, closed.
    void CopyOverTheLink(const char16_t* path, const std::vector<uint8_t>& bytes) {
        HANDLE file = Create(path);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        for (size_t at = 0; at < bytes.size(); at += 16384) {
            std::vector<uint8_t> piece(bytes.begin() + long(at),
                                       bytes.begin() + long(std::min(bytes.size(), at + 16384)));
            ASSERT_TRUE(Write(file, piece));
        }
        ASSERT_TRUE(CeCloseHandle(file));
        ASSERT_EQ(Machine().Store().ReadFile(path), bytes);
    }
    fs::path marker_;
};

TEST_F(InvokeHostCode, ASharedObjectWrittenThroughTheLinkIsNeverRun) {
    const auto intruder = HostFile(TOVA_INTRUDER_OBJECT);
    ASSERT_FALSE(intruder.empty());
    struct Case {
        const char16_t* path;
        const char16_t* library;
        const char* reason;
    };
    for (const Case& c : {Case{u"\\Windows\\HARLIX.DLL", u"HARLIX", "its bytes differ from"},
                          Case{u"\\Windows\\NEWLIB.DLL", u"NEWLIB", "holds no module named NEWLIB.DLL"},
                          Case{u"\\Temp\\payload.so", u"\\Temp\\payload.so", "holds no module named payload.so"}}) {
        CopyOverTheLink(c.path, intruder);
        HRESULT result = CeRapiInvoke(c.library, u"ColdReset", 0, nullptr, nullptr, nullptr, nullptr, 0);
        EXPECT_EQ(result, HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)) << tova::ToUtf8(c.path);
        EXPECT_FALSE(fs::exists(marker_)) << tova::ToUtf8(c.path) << " ran as host code";
        auto lines = Machine().DebugLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_NE(tova::ToUtf8(lines.back()).find(c.reason), std::string::npos) << tova::ToUtf8(lines.back());
    }
    // The build's own library, copied the same way, runs.
    handheld_->PlaceLibrary();
    EXPECT_EQ(InvokeEcho(), S_OK);
}

TEST_F(InvokeHostCode, WithoutHostModulesAnInvocationFailsAndTheLinkGoesOn) {
    handheld_->PlaceLibrary();
    Machine().SetHostModuleFolder({});
    size_t blocks = Machine().OutstandingLocalAllocations();
    EXPECT_EQ(InvokeEcho(), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    EXPECT_NE(tova::ToUtf8(Machine().DebugLines().back()).find("runs no host code"), std::string::npos);
    EXPECT_TRUE(VersionAnswers());
    EXPECT_EQ(Machine().OutstandingLocalAllocations(), blocks);
}

}  // namespace
