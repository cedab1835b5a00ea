// The loader places the ARM build's real modules in guest RAM with their relocations
// applied and imports bound to the platform's thunks, and refuses broken images with a
// message that names the module and what is wrong, leaving nothing in guest memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <set>

#include "emulator/arm/arm_module.h"
#include "emulator/arm/elf_image.h"
#include "emulator/arm/platform_imports.h"
#include "shared/configuration.h"

namespace tova::arm {
namespace {

std::vector<uint8_t> ReadModule(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

uint32_t Word(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t value;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}
void SetWord(std::vector<uint8_t>& bytes, size_t at, uint32_t value) { std::memcpy(bytes.data() + at, &value, 4); }
void SetHalf(std::vector<uint8_t>& bytes, size_t at, uint16_t value) { std::memcpy(bytes.data() + at, &value, 2); }

class ArmModuleTest : public ::testing::Test {
protected:
    std::unique_ptr<ArmModule> Load(const std::string& name, const std::vector<uint8_t>& bytes,
                                    std::string* error) {
        return ArmModule::Load(name, bytes, memory_, error);
    }
    uint32_t GuestWord(uint32_t address) {
        uint8_t* at = memory_.Host(address, 4);
        EXPECT_NE(at, nullptr);
        uint32_t value = 0;
        if (at) std::memcpy(&value, at, 4);
        return value;
    }

    hw::Board board_{kAdvancedModel};
    GuestMemory memory_{board_};
};

struct RealModule {
    const char* file;
    const char* name;
    std::set<std::string> exports;
};

TEST_F(ArmModuleTest, RealModulesLoadWithExportsRelocationsAndImportsBound) {
    for (const RealModule& m : {RealModule{TOVA_ARM_HARLIX, "HARLIX.DLL",
                                           {"FnTOVAInfo", "ColdReset", "WarmReset", "IsCheckSumOk"}},
                                RealModule{TOVA_ARM_VELKOR, "Velkor.exe", {"FlasherMain"}}}) {
        SCOPED_TRACE(m.name);
        const std::vector<uint8_t> bytes = ReadModule(m.file);
        ASSERT_FALSE(bytes.empty()) << "no module at " << m.file;
        std::string error;
        auto module = Load(m.name, bytes, &error);
        ASSERT_TRUE(module) << error;

        std::set<std::string> exported;
        for (const auto& [name, address] : module->Exports()) {
            exported.insert(name);
            EXPECT_GE(address, module->Base());
            EXPECT_LT(address, module->Base() + module->Size());
        }
        EXPECT_EQ(exported, m.exports);
        EXPECT_NE(module->Export(*m.exports.begin()), 0u);
        EXPECT_EQ(module->Export("NoSuchExport"), 0u);
        EXPECT_TRUE(memory_.Host(module->Base(), module->Size())) << "the image lies in guest RAM";

        ASSERT_FALSE(module->Imports().empty());
        for (const auto& [name, thunk] : module->Imports()) {
            auto function = PlatformFunctionNamed(name);
            ASSERT_TRUE(function) << name;
            EXPECT_EQ(thunk, ThunkAddress(*function)) << name;
        }

        // Each relocated word in guest memory: the file's word moved by the base, or the
        // thunk of the import it names.
        auto image = ElfImage::Parse(bytes, &error);
        ASSERT_TRUE(image) << error;
        for (const ElfRelocation& r : image->Relocations()) {
            const uint32_t placed = GuestWord(module->Base() + r.offset);
            if (r.type == kRelocRelative) {
                auto segment = std::find_if(image->Segments().begin(), image->Segments().end(),
                                            [&](const ElfSegment& s) {
                                                return r.offset >= s.address && r.offset + 4 <= s.address + s.fileBytes;
                                            });
                ASSERT_NE(segment, image->Segments().end());
                const uint32_t inFile = Word(bytes, segment->fileOffset + (r.offset - segment->address));
                EXPECT_EQ(placed, inFile + module->Base()) << "at " << r.offset;
            } else {
                const std::string& name = image->Symbols()[r.symbol].name;
                EXPECT_EQ(placed, module->Imports().at(name)) << name;
            }
        }
    }
}

TEST_F(ArmModuleTest, ModulesGetTheirOwnMemoryAndGiveItBack) {
    const std::vector<uint8_t> bytes = ReadModule(TOVA_ARM_HARLIX);
    std::string error;
    const uint32_t committedBefore = board_.Pages().CommittedPages();
    {
        auto first = Load("HARLIX.DLL", bytes, &error);
        auto second = Load("HARLIX.DLL", bytes, &error);
        ASSERT_TRUE(first && second) << error;
        EXPECT_TRUE(first->Base() + first->Size() <= second->Base() ||
                    second->Base() + second->Size() <= first->Base());
        EXPECT_GT(board_.Pages().CommittedPages(), committedBefore);
    }
    EXPECT_EQ(board_.Pages().CommittedPages(), committedBefore);
}

// Offsets in the real HARLIX.DLL, whose first segment starts at file offset 0 at address 0
// (so its tables' addresses are file offsets).
struct Layout {
    uint32_t programHeaders = 0;
    uint32_t jmpRel = 0;
};

Layout LayoutOf(const std::vector<uint8_t>& bytes) {
    Layout layout;
    layout.programHeaders = Word(bytes, 28);
    uint16_t count;
    std::memcpy(&count, bytes.data() + 44, 2);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t ph = layout.programHeaders + i * 32;
        if (Word(bytes, ph) != 2) continue;  // PT_DYNAMIC
        for (uint32_t at = Word(bytes, ph + 4); Word(bytes, at) != 0; at += 8)
            if (Word(bytes, at) == 23) layout.jmpRel = Word(bytes, at + 4);  // DT_JMPREL
    }
    return layout;
}

struct BrokenCase {
    const char* what;
    std::function<void(std::vector<uint8_t>&, const Layout&)> damage;
    const char* message;
};

TEST_F(ArmModuleTest, BrokenImagesAreRefusedWithAMessageNamingTheModule) {
    const std::vector<uint8_t> good = ReadModule(TOVA_ARM_HARLIX);
    ASSERT_FALSE(good.empty());
    const Layout layout = LayoutOf(good);
    ASSERT_EQ(Word(good, layout.programHeaders + 4), 0u) << "first segment at file offset 0";
    ASSERT_NE(layout.jmpRel, 0u);
    const std::vector<BrokenCase> cases = {
        {"truncated header", [](auto& b, auto&) { b.resize(40); }, "truncated ELF header"},
        {"empty file", [](auto& b, auto&) { b.clear(); }, "truncated ELF header"},
        {"not ELF", [](auto& b, auto&) { b[1] = 'X'; }, "not an ELF image"},
        {"64-bit", [](auto& b, auto&) { b[4] = 2; }, "not a 32-bit little-endian ELF image"},
        {"wrong machine", [](auto& b, auto&) { SetHalf(b, 18, 3); }, "not an ARM image (machine 3)"},
        {"executable, not shared object", [](auto& b, auto&) { SetHalf(b, 16, 2); }, "not a shared object"},
        {"program headers out of file", [](auto& b, auto&) { SetWord(b, 28, 0xFFFFFFF0); },
         "program headers outside the file"},
        {"segment out of file",
         [](auto& b, auto& l) { SetWord(b, l.programHeaders + 16, uint32_t(b.size()) + 1); },
         "segment 0 outside the file"},
        {"segment offset wraps",
         [](auto& b, auto& l) { SetWord(b, l.programHeaders + 4, 0xFFFFFF00); },
         "segment 0 outside the file"},
        {"huge segment",
         [](auto& b, auto& l) { SetWord(b, l.programHeaders + 20, 0x7FFFFFFF); },
         "beyond the largest image"},
        {"unknown relocation", [](auto& b, auto& l) { b[l.jmpRel + 4] = 3; }, "relocation type 3 at 0x"},
        {"relocation outside the image", [](auto& b, auto& l) { SetWord(b, l.jmpRel, 0x00FFFFF0); },
         "relocation at 0xFFFFF0 outside the image"},
        {"relocation names a missing symbol",
         [](auto& b, auto& l) { SetWord(b, l.jmpRel + 4, 0x7FFF0016); }, "does not exist"},
        {"unknown import",
         [](auto& b, auto&) {
             static const char kSleep[] = "\0Sleep";  // with its leading NUL
             auto at = std::search(b.begin(), b.end(), kSleep, kSleep + 7);
             ASSERT_NE(at, b.end());
             at[5] = 'q';
         },
         "imports Sleeq, which the platform does not provide"},
    };
    for (const BrokenCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes = good;
        c.damage(bytes, layout);
        std::string error;
        EXPECT_FALSE(Load("BROKEN.DLL", bytes, &error));
        EXPECT_EQ(error.rfind("BROKEN.DLL: ", 0), 0u) << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
    EXPECT_EQ(board_.Pages().CommittedPages(), 0u) << "nothing of a refused module stays";
}

TEST_F(ArmModuleTest, DamagedImagesNeverCrashTheLoader) {
    // Random damage and every truncation: each load succeeds or says why it did not. Run
    // under the address sanitizer this shows that no offset is trusted.
    const std::vector<uint8_t> good = ReadModule(TOVA_ARM_HARLIX);
    std::mt19937 random(2026);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = good;
        const int flips = 1 + int(random() % 8);
        for (int i = 0; i < flips; ++i) {
            // Mostly the headers and tables at the front, where the offsets are.
            const size_t span = random() % 4 == 0 ? bytes.size() : std::min<size_t>(bytes.size(), 0x500);
            bytes[random() % span] = uint8_t(random());
        }
        std::string error;
        auto module = Load("DAMAGED.DLL", bytes, &error);
        EXPECT_TRUE(module || !error.empty());
    }
    for (size_t length = 0; length < good.size(); length += 61) {
        std::vector<uint8_t> bytes(good.begin(), good.begin() + long(length));
        std::string error;
        auto module = Load("SHORT.DLL", bytes, &error);
        EXPECT_TRUE(module || !error.empty());
    }
}

}  // namespace
}  // namespace tova::arm
