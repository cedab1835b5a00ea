// WarmReset and RemoveBuiltInDrivers inside the emulated handheld: which driver keys go,
// which stay, and that the warm reboot follows whatever the registry holds.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "emulated_handheld.h"
#include "device/service/builtin_drivers.h"
#include "emulator/object_store.h"
#include "emulator/registry.h"

namespace harlix_test {
namespace {

const std::u16string kBuiltIn = u"Drivers\\BuiltIn";

std::u16string DriverKey(std::u16string_view name) {
    return kBuiltIn + u"\\" + std::u16string(name);
}

std::vector<std::u16string> ListedDrivers() {
    std::vector<std::u16string> names;
    for (uint32_t i = 0; BuiltInDriverKeys[i][0] != 0; ++i) names.push_back(BuiltInDriverKeys[i]);
    return names;
}

// The driver keys the removal must leave alone, with their values.
std::map<std::u16string, std::vector<std::u16string>> OtherDrivers(tova::Registry& reg) {
    const std::vector<std::u16string> listed = ListedDrivers();
    std::map<std::u16string, std::vector<std::u16string>> others;
    for (const std::u16string& key : reg.SubKeys(kBuiltIn)) {
        bool isListed = false;
        for (const std::u16string& name : listed) isListed = isListed || tova::SameName(key, name);
        if (!isListed) others[key] = reg.ValueNames(DriverKey(key));
    }
    return others;
}

// Runs the removal on a thread of its own, so that a loop that never ends fails the run
// at once instead of holding it until the runner's timeout.
LONG RemoveWithHangGuard(EmulatedHandheld& handheld) {
    std::promise<LONG> result;
    std::future<LONG> done = result.get_future();
    std::thread worker([&] {
        LONG r = -1;
        handheld.RunOnDevice([&] { r = RemoveBuiltInDrivers(); });
        result.set_value(r);
    });
    if (done.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        std::fprintf(stderr, "RemoveBuiltInDrivers never returned\n");
        std::_Exit(EXIT_FAILURE);
    }
    worker.join();
    return done.get();
}

class WarmResetTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(handheld_.Ready()); }

    tova::Registry& Reg() { return handheld_.Machine().Reg(); }

    // Calls the export and waits for the warm boot it asks for.
    void WarmResetAndWaitForBoot() {
        tova::Machine& m = handheld_.Machine();
        ASSERT_TRUE(m.Store().WriteFile(u"\\Temp\\kept.bin", {1, 2, 3}));
        const uint32_t boots = m.BootCount();
        const InvokeResult r = handheld_.InvokeWithAll("WarmReset");
        if (r.completed) {
            EXPECT_EQ(r.hr, S_OK);
        }
        EXPECT_FALSE(r.outputSet);
        ASSERT_TRUE(m.WaitUntilBootCount(boots + 1, kBootWaitMs)) << "no reboot followed";
        EXPECT_TRUE(m.LastBootWarm());
        EXPECT_TRUE(m.Store().Exists(u"\\Temp\\kept.bin")) << "a warm boot keeps the store";
    }

    EmulatedHandheld handheld_{tova::MachineConfig{}};
};

TEST_F(WarmResetTest, RemovesTheTenDriverKeysKeepsTheOthersAndRebootsWarm) {
    for (const std::u16string& name : ListedDrivers()) {
        ASSERT_TRUE(Reg().KeyExists(DriverKey(name))) << tova::ToUtf8(name);
        ASSERT_FALSE(Reg().ValueNames(DriverKey(name)).empty()) << tova::ToUtf8(name);
    }
    const auto others = OtherDrivers(Reg());
    ASSERT_FALSE(others.empty());

    WarmResetAndWaitForBoot();

    for (const std::u16string& name : ListedDrivers()) {
        EXPECT_FALSE(Reg().KeyExists(DriverKey(name))) << tova::ToUtf8(name);
    }
    EXPECT_EQ(OtherDrivers(Reg()), others);
}

TEST_F(WarmResetTest, MissingDriverKeysAreSkipped) {
    for (const char16_t* name : {u"ExtConnDrv", u"USB", u"NDIS"}) {
        ASSERT_TRUE(Reg().DeleteKey(DriverKey(name)));
    }
    const auto others = OtherDrivers(Reg());

    WarmResetAndWaitForBoot();

    for (const std::u16string& name : ListedDrivers()) {
        EXPECT_FALSE(Reg().KeyExists(DriverKey(name))) << tova::ToUtf8(name);
    }
    EXPECT_EQ(OtherDrivers(Reg()), others);
}

TEST_F(WarmResetTest, MissingBuiltInKeyStillReboots) {
    ASSERT_TRUE(Reg().DeleteKey(kBuiltIn));
    ASSERT_TRUE(Reg().CreateKey(u"Drivers\\Active"));
    WarmResetAndWaitForBoot();
    EXPECT_TRUE(Reg().KeyExists(u"Drivers\\Active"));
    EXPECT_FALSE(Reg().KeyExists(kBuiltIn));
}

TEST_F(WarmResetTest, DriverKeyWithManyValuesIsEmptiedAndDeleted) {
    const std::u16string key = DriverKey(u"WaveDev");
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(Reg().SetValue(key, u"Value" + tova::FromUtf8(std::to_string(i)),
                                   tova::RegValue::Dword(uint32_t(i))));
    }
    LONG result = -1;
    ASSERT_TRUE(handheld_.RunOnDevice([&] { result = RemoveBuiltInDrivers(); }));
    EXPECT_EQ(result, ERROR_SUCCESS);
    EXPECT_FALSE(Reg().KeyExists(key));
}

// A value the registry refuses to delete would be found at index 0 again and again; the
// removal gives up on that key and goes on with the next one.
TEST_F(WarmResetTest, UndeletableValueEndsWorkOnItsKeyOnly) {
    tova::MachineFaults faults;
    faults.undeletableRegistryValues = {{DriverKey(u"IrCOMM"), u"Dll"}};
    handheld_.Machine().SetFaults(faults);
    const auto others = OtherDrivers(Reg());

    EXPECT_EQ(RemoveWithHangGuard(handheld_), ERROR_SUCCESS);
    for (const std::u16string& name : ListedDrivers()) {
        if (name == u"IrCOMM") continue;  // whether it goes with its stuck value is the registry's call
        EXPECT_FALSE(Reg().KeyExists(DriverKey(name))) << tova::ToUtf8(name);
    }
    EXPECT_EQ(OtherDrivers(Reg()), others);
}

TEST_F(WarmResetTest, UndeletableValueStillReboots) {
    tova::MachineFaults faults;
    faults.undeletableRegistryValues = {{DriverKey(u"Serial"), u"Prefix"}};
    handheld_.Machine().SetFaults(faults);
    WarmResetAndWaitForBoot();
    EXPECT_FALSE(Reg().KeyExists(DriverKey(u"USB")));
}

TEST_F(WarmResetTest, RemovalReportsAMissingBuiltInKey) {
    ASSERT_TRUE(Reg().DeleteKey(kBuiltIn));
    LONG result = ERROR_SUCCESS;
    ASSERT_TRUE(handheld_.RunOnDevice([&] { result = RemoveBuiltInDrivers(); }));
    EXPECT_NE(result, ERROR_SUCCESS);
}

}  // namespace
}  // namespace harlix_test
