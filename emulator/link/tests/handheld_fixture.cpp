#include "handheld_fixture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "shared/configuration.h"
#include "shared/rom_identity.h"
#include "emulator/object_store.h"

namespace link_test {

std::vector<uint8_t> MinimalRom(const tova::MachineConfig& config) {
    RomIdentity identity{};
    std::memcpy(identity.magic, kRomIdentityMagic, sizeof identity.magic);
    identity.build = 0x05260300;
    identity.languageId = config.defaultLanguageId;
    identity.memoryConfig = config.model == tova::Model::kAdvanced ? 0x02000200u : 0x01000100u;
    const char16_t version[] = u"v1.075";
    std::memcpy(identity.versionText, version, sizeof version);
    identity.check = RomIdentityCheck(identity);
    std::vector<uint8_t> image(sizeof identity);
    std::memcpy(image.data(), &identity, sizeof identity);
    return image;
}

tova::MachineConfig Handheld::DefaultConfig() {
    tova::MachineConfig config;
    config.bootDelayMs = 100;
    return config;
}

Handheld::Handheld(tova::MachineConfig config) {
    char pattern[] = "/tmp/tova-link-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) throw std::runtime_error("cannot make a state folder");
    folder_ = made;
    machine_ = tova::Machine::Create(folder_ / "state", config, MinimalRom(config));
    machine_->SetHostModuleFolder(std::filesystem::path(LINK_TEST_MODULE_PATH).parent_path());
    if (!machine_->Boot()) throw std::runtime_error("the handheld did not boot");
    server_ = std::make_unique<tova::link::LinkServer>(*machine_, 0);
}

Handheld::~Handheld() {
    server_->Stop();
    server_.reset();
    // The state folder is thrown away, so the handheld is not shut down (which saves it).
    machine_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::string Handheld::Endpoint() const { return "127.0.0.1:" + std::to_string(server_->Port()); }

void Handheld::PlaceLibrary(std::u16string_view handheldPath) {
    std::ifstream file(LINK_TEST_MODULE_PATH, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
    ASSERT_FALSE(bytes.empty()) << "missing " << LINK_TEST_MODULE_PATH;
    ASSERT_TRUE(machine_->Store().WriteFile(handheldPath, bytes));
}

void Handheld::SetMode(char mode) {
    ASSERT_TRUE(machine_->Store().WriteFile(u"\\Temp\\LinkTestMode", {static_cast<uint8_t>(mode)}));
}

std::optional<std::vector<uint8_t>> Handheld::LastCall() {
    return machine_->Store().ReadFile(u"\\Temp\\LinkTestCall.bin");
}

void Handheld::ReleaseWaiters() {
    machine_->Store().WriteFile(u"\\Temp\\LinkTestRelease", {1});
}

}  // namespace link_test
