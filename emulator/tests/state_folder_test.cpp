// The state folder: what Create writes, what Open reads back, and a clear error (never a
// crash) for a folder that is missing a piece or holds a corrupt one.
#include <fstream>

#include "handheld_fixture.h"
#include "emulator/hw/board.h"
#include "emulator/state_error.h"

namespace tova::testing {
namespace {

namespace fs = std::filesystem;

class StateFolderTest : public HandheldTest {};

TEST_F(StateFolderTest, OpenGivesBackWhatWasSaved) {
    MachineConfig config;
    config.model = Model::kBasic;
    config.acOnline = false;
    config.batteryPercent = 255;
    config.defaultLanguageId = 1036;
    config.identifier[0] = 0x99;
    config.cableAttached = false;
    config.bootDelayMs = 1234;
    config.faults.modelQueryGarbageCount = 2;
    config.faults.ramFragmentation = true;
    config.faults.rebootIgnored = true;
    config.faults.undeletableRegistryValues.push_back({u"Drivers\\BuiltIn\\USB", u"Dll"});
    Make(config, KernelImage({Model::kBasic}));
    std::string error;
    ASSERT_TRUE(M().Boot());
    ASSERT_TRUE(M().Reg().CreateKey(u"Software\\Saved"));
    M().Flash().LoadImage(0x1000000, std::vector<uint8_t>{1, 2, 3, 4});
    M().Save();
    machine_.reset();

    machine_ = Machine::Open(StateFolder());
    MachineConfig read = M().Config();
    EXPECT_EQ(read.model, Model::kBasic);
    EXPECT_FALSE(read.acOnline);
    EXPECT_EQ(read.batteryPercent, 255);
    EXPECT_EQ(read.defaultLanguageId, 1036);
    EXPECT_EQ(read.identifier, config.identifier);
    EXPECT_FALSE(read.cableAttached);
    EXPECT_EQ(read.bootDelayMs, 1234u);
    EXPECT_EQ(read.faults.modelQueryGarbageCount, 2u);
    EXPECT_TRUE(read.faults.ramFragmentation);
    EXPECT_TRUE(read.faults.rebootIgnored);
    ASSERT_EQ(read.faults.undeletableRegistryValues.size(), 1u);
    EXPECT_EQ(read.faults.undeletableRegistryValues[0].name, u"Dll");
    EXPECT_TRUE(M().Reg().KeyExists(u"Software\\Saved"));
    EXPECT_EQ(M().Flash().ReadArray(0x1000000, 4), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(M().BootCount(), 1u);
}

TEST_F(StateFolderTest, CreateRefusesAFolderThatHoldsAHandheld) {
    Make();
    machine_.reset();
    EXPECT_THROW(Machine::Create(StateFolder(), {}, KernelImage()), StateError);
}

TEST_F(StateFolderTest, CreateRefusesBadSettings) {
    MachineConfig config;
    config.batteryPercent = 101;
    EXPECT_THROW(Machine::Create(StateFolder(), config, KernelImage()), StateError);
    config = {};
    config.defaultLanguageId = 0;
    EXPECT_THROW(Machine::Create(StateFolder(), config, KernelImage()), StateError);
    EXPECT_THROW(Machine::Create(StateFolder(), {}, std::vector<uint8_t>(0x19C0001)), StateError);
}

TEST_F(StateFolderTest, OneHandheldAtATimeInAProcess) {
    Make();
    EXPECT_THROW(Machine::Create(dir_ / "second", {}, KernelImage()), StateError);
    EXPECT_EQ(Machine::Active(), machine_.get());
    machine_.reset();
    EXPECT_EQ(Machine::Active(), nullptr);
}

struct Damage {
    const char* name;
    std::function<void(const fs::path&)> apply;
    const char* mentions;  // a piece of the error message
};

void Overwrite(const fs::path& file, const std::string& text) { std::ofstream(file, std::ios::trunc) << text; }

std::string ConfigWith(const fs::path& folder, const std::string& from, const std::string& to) {
    std::ifstream in(folder / "machine.conf");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

TEST_F(StateFolderTest, DamagedFoldersGiveClearErrors) {
    const Damage damages[] = {
        {"no folder", [](const fs::path& f) { fs::remove_all(f); }, "machine.conf"},
        {"no configuration", [](const fs::path& f) { fs::remove(f / "machine.conf"); }, "machine.conf"},
        {"foreign configuration", [](const fs::path& f) { Overwrite(f / "machine.conf", "hello\n"); }, "version"},
        {"bad model", [](const fs::path& f) { Overwrite(f / "machine.conf", ConfigWith(f, "model=advanced", "model=huge")); }, "model"},
        {"bad battery", [](const fs::path& f) { Overwrite(f / "machine.conf", ConfigWith(f, "battery=100", "battery=300")); }, "battery"},
        {"bad identifier", [](const fs::path& f) { Overwrite(f / "machine.conf", ConfigWith(f, "identifier=", "identifier=zz")); }, "identifier"},
        {"unknown setting", [](const fs::path& f) { Overwrite(f / "machine.conf", ConfigWith(f, "cable=on", "cable=on\ncolour=red")); }, "colour"},
        {"missing setting", [](const fs::path& f) { Overwrite(f / "machine.conf", ConfigWith(f, "model=advanced\n", "")); }, "required setting model missing"},
        {"two missing settings", [](const fs::path& f) {
             Overwrite(f / "machine.conf", ConfigWith(f, "ac=on\nbattery=100\n", "")); }, "required settings ac, battery missing"},
        {"repeated setting", [](const fs::path& f) { Overwrite(f / "machine.conf", ConfigWith(f, "cable=on", "cable=on\nac=off")); },
         "line 8: setting \"ac\" given again (first on line 3)"},
        {"repeated boot count", [](const fs::path& f) { Overwrite(f / "machine.conf", ConfigWith(f, "boot-count=", "boot-count=1\nboot-count=")); },
         "setting \"boot-count\" given again"},
        {"stored flash fault out of range", [](const fs::path& f) {
             Overwrite(f / "machine.conf", ConfigWith(f, "ram-retained", "flash-fault=fail-erase 7 3\nram-retained")); },
         "the chip must be a number from 0 to 1, not \"7\""},
        {"no flash", [](const fs::path& f) { fs::remove(f / "flash.img"); }, "flash.img"},
        {"short flash", [](const fs::path& f) { fs::resize_file(f / "flash.img", 1000); }, "flash.img"},
        {"no registry", [](const fs::path& f) { fs::remove(f / "registry.txt"); }, "registry"},
        {"corrupt registry", [](const fs::path& f) { Overwrite(f / "registry.txt", "tova-registry 1\nnonsense\n"); }, "registry"},
        {"no object store", [](const fs::path& f) { fs::remove_all(f / "store"); }, "store"},
    };
    for (const auto& d : damages) {
        SCOPED_TRACE(d.name);
        machine_.reset();
        fs::remove_all(StateFolder());
        Make();
        machine_.reset();
        d.apply(StateFolder());
        try {
            Machine::Open(StateFolder());
            ADD_FAILURE() << "opened a damaged state folder";
        } catch (const StateError& e) {
            EXPECT_NE(std::string(e.what()).find(d.mentions), std::string::npos) << e.what();
        }
        EXPECT_EQ(Machine::Active(), nullptr);
    }
}

}  // namespace
}  // namespace tova::testing
