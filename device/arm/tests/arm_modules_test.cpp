// The ARM build of the handheld modules: ELF for the handheld's CPU, the same entry
// points and version information as the host build, imports the platform provides, and
// only what a module loader must handle (no constructors to run, four relocation types).
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "arm_module_image.h"

namespace arm_test {
namespace {

#ifndef R_ARM_JUMP_SLOT
#define R_ARM_JUMP_SLOT 22
#endif

const std::set<std::string>& PlatformFunctions() {
    static const std::set<std::string> names = {
#define TOVA_WINCE_FUNCTION(name) #name,
#include "platform/wince/api_functions.def"
#undef TOVA_WINCE_FUNCTION
    };
    return names;
}

struct ModuleCase {
    const char* name;
    const char* armFile;
    const char* hostFile;
    std::vector<std::string> entries;
    const char* resourceSection;
};

void PrintTo(const ModuleCase& c, std::ostream* out) { *out << c.name; }

class ArmModulesTest : public ::testing::TestWithParam<ModuleCase> {
protected:
    static ArmModuleImage Load(const char* file) {
        std::string error;
        auto image = ArmModuleImage::Read(file, &error);
        EXPECT_TRUE(image) << error;
        return image ? *image : ArmModuleImage{};
    }
};

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

TEST_P(ArmModulesTest, IsAnArmV5SoftFloatSharedObject) {
    ArmModuleImage image = Load(GetParam().armFile);
    EXPECT_EQ(image.Header().e_machine, EM_ARM);
    EXPECT_EQ(image.Header().e_type, ET_DYN);
    EXPECT_EQ(image.Header().e_ident[EI_DATA], ELFDATA2LSB);
    EXPECT_EQ(image.Header().e_flags & EF_ARM_EABIMASK, EF_ARM_EABI_VER5);
    EXPECT_NE(image.Header().e_flags & EF_ARM_ABI_FLOAT_SOFT, 0u);
}

TEST_P(ArmModulesTest, ExportsExactlyTheHostModulesEntryPoints) {
    ArmModuleImage arm = Load(GetParam().armFile);
    EXPECT_EQ(Sorted(arm.Defined()), Sorted(GetParam().entries));
}

TEST_P(ArmModulesTest, ImportsOnlyWhatThePlatformProvidesFromItsSystemLibrary) {
    ArmModuleImage image = Load(GetParam().armFile);
    EXPECT_EQ(image.Needed(), std::vector<std::string>{"coredll.dll"});
    ASSERT_FALSE(image.Imported().empty());
    for (const auto& name : image.Imported())
        EXPECT_TRUE(PlatformFunctions().count(name)) << name << " is not a platform function";
}

TEST_P(ArmModulesTest, NeedsNoConstructorsAndOnlyTheLoadersRelocations) {
    ArmModuleImage image = Load(GetParam().armFile);
    for (int32_t tag : {DT_INIT, DT_FINI, DT_INIT_ARRAY, DT_FINI_ARRAY, DT_PREINIT_ARRAY})
        EXPECT_EQ(image.Dynamic().count(tag), 0u) << "dynamic tag " << tag;
    const std::set<uint32_t> handled = {R_ARM_RELATIVE, R_ARM_ABS32, R_ARM_GLOB_DAT,
                                        R_ARM_JUMP_SLOT};
    for (uint32_t type : image.RelocationTypes())
        EXPECT_TRUE(handled.count(type)) << "relocation type " << type;
}

TEST_P(ArmModulesTest, CarriesTheHostModulesResources) {
    std::vector<uint8_t> section = ElfSectionBytes(GetParam().armFile, GetParam().resourceSection);
    ASSERT_FALSE(section.empty());
    EXPECT_EQ(section, ElfSectionBytes(GetParam().hostFile, GetParam().resourceSection));
}

INSTANTIATE_TEST_SUITE_P(
    Modules, ArmModulesTest,
    ::testing::Values(
        ModuleCase{"Velkor", TOVA_ARM_VELKOR, TOVA_HOST_VELKOR, {"FlasherMain"}, ".tova_icon"},
        ModuleCase{"Harlix", TOVA_ARM_HARLIX, TOVA_HOST_HARLIX,
                   {"FnTOVAInfo", "ColdReset", "WarmReset", "IsCheckSumOk"}, ".tova_version"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace arm_test
