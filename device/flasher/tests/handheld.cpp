#include "handheld.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "device/flasher/console.h"
#include "device/flasher/flash_driver.h"
#include "device/flasher/segment_buffers.h"
#include "device/flasher/update_sequence.h"
#include "platform/clock/clock.h"
#include "tools/romimage/rom_image.h"
#include "shared/flash_map.h"
#include "shared/rom_identity.h"
#include "emulator/object_store.h"

namespace flasher_test {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "velkor-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

namespace {

tova::Machine& SharedMachine() {
    static TempFolder folder;
    static std::unique_ptr<tova::Machine> machine =
        tova::Machine::Create(folder.Path() / "handheld", tova::MachineConfig{}, {});
    return *machine;
}

romimage::RomSpec Spec(const char* digits, const char16_t* version) {
    romimage::RomSpec spec;
    std::snprintf(spec.buildDigits, sizeof spec.buildDigits, "%s", digits);
    spec.versionText = version;
    return spec;
}

}  // namespace

BoardUnderTest::BoardUnderTest() : machine_(&SharedMachine()) {
    tova::hw::Board& board = machine_->Board();
    board.Reset();
    tova::hw::FlashModel& flash = board.Flash();
    flash.ClearFaults();
    flash.SetBusyInTime(false);
    for (unsigned chip = 0; chip < tova::hw::kFlashChipCount; ++chip) {
        flash.SetBusyBefore(chip, 0);
        flash.SetBusyDuring(chip, 0);
        flash.SetTiming(chip, tova::hw::FlashTiming{});
        flash.SetProtectionRegister(chip, {});
        for (uint32_t block = 0; block < tova::hw::kFlashBlockCount; ++block)
            flash.SetBlockLocked(chip, block, false);
    }
    flash.EraseAll();
    flash.ClearLog();
    board.Gpio().ClearWrites();
    board.Display().Frame(0).Fill(0);
    board.Display().Frame(1).Fill(0);
    board.Bus().GuestErrors().Clear();
    debugLinesBefore_ = machine_->DebugLines().size();
}

std::vector<std::u16string> BoardUnderTest::DebugLines() const {
    std::vector<std::u16string> lines = machine_->DebugLines();
    return {lines.begin() + long(debugLinesBefore_), lines.end()};
}

namespace {

void FillPattern(std::vector<uint8_t>& bytes, uint64_t seed) {
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::memcpy(&bytes[i], &x, 8);
    }
}

uint64_t SeedOf(const char* name) {
    uint64_t h = 1469598103934665603ull;
    for (const char* p = name; *p; ++p) h = (h ^ uint8_t(*p)) * 1099511628211ull;
    return h;
}

void PutRomIdentity(std::vector<uint8_t>& bytes, uint32_t build) {
    RomIdentity r{};
    std::memcpy(r.magic, kRomIdentityMagic, sizeof r.magic);
    r.build = build;
    r.languageId = 1033;
    r.memoryConfig = kMemoryConfigAdvanced;
    const char16_t text[] = u"test";
    std::memcpy(r.versionText, text, sizeof text);
    r.check = RomIdentityCheck(r);
    std::memcpy(bytes.data(), &r, sizeof r);
}

constexpr uint32_t kOldBuild = 0x05010100;

}  // namespace

const std::vector<uint8_t>& OldRomImage() {
    static const std::vector<uint8_t> image = [] {
        std::vector<uint8_t> bytes(kPackageSegmentsBytes);
        FillPattern(bytes, SeedOf("old ROM"));
        PutRomIdentity(bytes, kOldBuild);
        return bytes;
    }();
    return image;
}

uint32_t TestKernelBuild() { return 0x05990100; }

std::vector<uint8_t> TestSegment(const char16_t* devicePath) {
    const SegmentEntry& s = SegmentNamed(devicePath);
    std::vector<uint8_t> bytes(s.size);
    FillPattern(bytes, SeedOf(s.name));
    if (std::string(s.name) == "KERNEL") PutRomIdentity(bytes, TestKernelBuild());
    return bytes;
}

const std::vector<uint8_t>& NewRomPackage() {
    static const std::vector<uint8_t> package = romimage::BuildPackage(Spec("05260300", u"5.26.03"));
    return package;
}

uint32_t NewRomBuild() { return romimage::RomBuildFor(Spec("05260300", u"5.26.03")); }

const SegmentEntry& SegmentNamed(const char16_t* devicePath) {
    for (const SegmentEntry& s : kSegmentTable)
        if (tova::SameName(s.devicePath, devicePath)) return s;
    throw std::invalid_argument("no such segment");
}

std::vector<uint8_t> PackageSegment(const char16_t* devicePath) {
    const SegmentEntry& s = SegmentNamed(devicePath);
    auto first = NewRomPackage().begin() + long(s.packageOffset);
    return {first, first + long(s.size)};
}

HandheldSession::HandheldSession(const tova::MachineConfig& config) {
    tova::SetTimeScale(0);
    machine_ = tova::Machine::Create(folder_.Path() / "handheld", config, OldRomImage());
    machine_->SetHostModuleFolder(BuiltFlasherModule().parent_path());
    if (!machine_->Boot()) throw std::runtime_error("the handheld did not boot");
    watchdog_ = std::make_unique<tova::testing::HandheldWatchdog>(*machine_, kFlasherBudget);
}

HandheldSession::~HandheldSession() {
    watchdog_.reset();
    machine_.reset();
}

void HandheldSession::PutFile(const char16_t* path, const std::vector<uint8_t>& bytes) {
    if (!machine_->Store().WriteFile(path, bytes)) throw std::runtime_error("cannot write a file");
}

void HandheldSession::PutPackageSegmentFiles() {
    for (const FlashSegment& f : kFlashSegmentMap) PutFile(f.file, PackageSegment(f.file));
}

std::vector<uint8_t> HandheldSession::FlashAt(uint32_t address, uint32_t length) {
    return machine_->Flash().ReadArray(address - kFlashStart, length);
}

void ResetFlasherState(const ModelAddresses& model) {
    g_clearBase = kDrawingBase;
    ConsoleHome();
    g_lastFlashStatus = 0;
    g_flashPollLimits = {0x7FFFFFFF, 0x0FFFFFFF};
    g_flashRoutineArea = model.flashRoutineArea;
    g_reservedRamPage = model.reservedRamPage;
    g_flashRoutines.eraseBlock = FlashEraseBlock;
    g_flashRoutines.eraseRange = FlashEraseRange;
    g_flashRoutines.writeBuffer = FlashWriteBuffer;
    g_flashRoutines.programRange = FlashProgramRange;
    g_segmentBuffers = {};
    g_segmentBufferCount = 0;
}

fs::path BuiltFlasherModule(FlasherBuild build) {
    const char* dir = std::getenv("TOVA_BIN_DIR");
    if (build == FlasherBuild::kArm) return dir ? fs::path(dir) / "Velkor.exe" : fs::path(ARM_VELKOR_MODULE_FILE);
    return dir ? fs::path(dir) / "host" / "Velkor.exe" : fs::path(VELKOR_MODULE_FILE);
}

bool HasArmFlasher() { return ARM_VELKOR_BUILT; }

}  // namespace flasher_test
