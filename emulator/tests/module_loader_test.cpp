// The handheld runs host code only as the build made it: a module of its store runs when the
// build's module of that name has exactly its bytes, and never otherwise; without a host
// module folder nothing runs at all. A foreign shared object placed in the store is never
// given to the host's loader: its constructor, which would leave a marker, never runs.
#include <dlfcn.h>
#include <stdlib.h>

#include <fstream>

#include "handheld_fixture.h"

namespace tova::testing {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> HostFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> Probe() { return HostFile(TOVA_PROBE_MODULE); }
std::vector<uint8_t> Intruder() { return HostFile(TOVA_INTRUDER_OBJECT); }

std::vector<uint8_t> Flipped(std::vector<uint8_t> bytes, size_t at) {
    bytes.at(at) ^= 0x01;
    return bytes;
}

class ModuleLoaderTest : public HandheldTest {
protected:
    void SetUp() override {
        HandheldTest::SetUp();
        marker_ = dir_ / "intruder-ran";
        ::setenv("TOVA_INTRUDER_MARKER", marker_.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("TOVA_INTRUDER_MARKER");
        HandheldTest::TearDown();
    }
    fs::path marker_;
};

// The intruder does what the tests below rely on: loaded, it leaves its marker.
TEST_F(ModuleLoaderTest, TheIntrudersConstructorLeavesAMarkerWhenLoaded) {
    void* handle = dlopen(TOVA_INTRUDER_OBJECT, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    EXPECT_TRUE(fs::exists(marker_));
    dlclose(handle);
}

TEST_F(ModuleLoaderTest, TheBuildsOwnModuleRunsUnderItsNameInAnyCase) {
    Machine& m = MakeBooted();
    for (const char16_t* path : {u"\\Windows\\PlatformProbe.exe", u"\\Temp\\platformprobe.EXE"}) {
        ASSERT_TRUE(m.Store().WriteFile(path, Probe()));
        std::string error;
        auto module = m.LoadModule(path, &error);
        ASSERT_TRUE(module) << ToUtf8(path) << ": " << error;
        EXPECT_NE(module->Symbol(kStartupEntryName), nullptr);
        EXPECT_EQ(module->Symbol("NoSuchExport"), nullptr);
    }
}

struct RefusedModule {
    const char* name;
    std::u16string path;
    std::vector<uint8_t> (*content)();  // null: no file at all
    std::string reason;
};

class RefusedModules : public ModuleLoaderTest, public ::testing::WithParamInterface<RefusedModule> {};

TEST_P(RefusedModules, NeverRunAndSayWhy) {
    const RefusedModule& c = GetParam();
    Machine& m = MakeBooted();
    if (c.content) {
        ASSERT_TRUE(m.Store().WriteFile(c.path, c.content()));
    }
    std::string error;
    EXPECT_FALSE(m.LoadModule(c.path, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(marker_)) << "the store's file ran as host code";
    auto lines = m.DebugLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), u"loader: " + FromUtf8(error));
}

INSTANTIATE_TEST_SUITE_P(
    Loader, RefusedModules,
    ::testing::Values(
        RefusedModule{"ForeignObjectUnderAModulesName", u"\\Windows\\PlatformProbe.exe", Intruder,
                      "its bytes differ from"},
        RefusedModule{"ForeignObjectUnderANewName", u"\\Windows\\INTRUDER.DLL", Intruder,
                      "holds no module named INTRUDER.DLL"},
        RefusedModule{"ForeignObjectUnderItsOwnName", u"\\Windows\\intruder.so", Intruder,
                      "holds no module named intruder.so"},
        RefusedModule{"CorruptedModuleHeader", u"\\Windows\\PlatformProbe.exe",
                      [] { return Flipped(Probe(), 100); }, "its bytes differ from"},
        RefusedModule{"CorruptedModuleTail", u"\\Windows\\PlatformProbe.exe",
                      [] { return Flipped(Probe(), Probe().size() - 1); }, "its bytes differ from"},
        RefusedModule{"ModuleCutShort", u"\\Windows\\PlatformProbe.exe",
                      [] {
                          auto bytes = Probe();
                          bytes.resize(bytes.size() / 2);
                          return bytes;
                      },
                      "its bytes differ from"},
        RefusedModule{"PlainText", u"\\Windows\\TEXT.DLL", [] { return Bytes("plain text"); },
                      "not a loadable module"},
        RefusedModule{"Missing", u"\\Windows\\MISSING.DLL", nullptr, "does not exist"},
        RefusedModule{"PathOutOfTheStore", u"\\Windows\\..\\PlatformProbe.exe", nullptr,
                      "invalid handheld path"}),
    [](const auto& info) { return std::string(info.param.name); });

// A program the shell finds in the start-up folder is refused the same way, and says so.
TEST_F(ModuleLoaderTest, AForeignStartupProgramNeverRuns) {
    Machine& m = MakeBooted();
    const std::u16string path = u"\\Windows\\StartUp\\PlatformProbe.exe";
    ASSERT_TRUE(m.Store().WriteFile(path, Intruder()));
    ASSERT_TRUE(m.Store().WriteFile(u"\\Temp\\probe.cmd", Bytes("write")));
    uint32_t before = m.BootCount();
    m.RequestReset(ResetKind::kWarm);
    ASSERT_TRUE(m.WaitUntilBootCount(before + 1, 10000));
    ASSERT_TRUE(m.WaitUntilProgramsDone(10000));
    bool seen = false;
    for (const auto& launch : m.ShellLaunches()) {
        if (launch.path != path) continue;
        seen = true;
        EXPECT_EQ(launch.kind, ShellLaunch::Kind::kNotRunnable);
        EXPECT_NE(launch.detail.find("its bytes differ from"), std::string::npos) << launch.detail;
    }
    EXPECT_TRUE(seen);
    EXPECT_FALSE(fs::exists(marker_));
    EXPECT_FALSE(m.Store().Exists(u"\\Temp\\probe.out"));
}

// A handheld started without host modules runs none, not even the build's own, and says how
// to start it so.
TEST_F(ModuleLoaderTest, WithoutHostModulesNoModuleRuns) {
    Machine& m = MakeBooted();
    m.SetHostModuleFolder({});
    ASSERT_TRUE(m.Store().WriteFile(u"\\Windows\\PlatformProbe.exe", Probe()));
    std::string error;
    EXPECT_FALSE(m.LoadModule(u"\\Windows\\PlatformProbe.exe", &error));
    EXPECT_NE(error.find("runs no host code"), std::string::npos) << error;
    EXPECT_NE(error.find("--host-modules"), std::string::npos) << error;
}

}  // namespace
}  // namespace tova::testing
