#include "tools/romimage/rom_image.h"

#include <cstring>
#include <stdexcept>

#include "format/rom_package_key.h"
#include "tools/romimage/checksum_fit.h"
#include "format/segment_checksum.h"
#include "shared/configuration.h"
#include "shared/rom_identity.h"
#include "shared/segment_table.h"

namespace romimage {
namespace {

struct LanguageCode {
    char code[3];
    uint32_t id;
};
constexpr LanguageCode kLanguages[] = {
    {"GE", 1031}, {"EN", 1033}, {"SP", 1034}, {"FR", 1036}, {"IT", 1040},
};

constexpr char kHeaderTextAdvanced[] = "TOVA ROM ADVANCED   ";
constexpr char kHeaderTextBasic[] = "TOVA ROM BASIC      ";
static_assert(sizeof(kHeaderTextAdvanced) - 1 == kHeaderBuildOffset - 4);
static_assert(sizeof(kHeaderTextBasic) - 1 == kHeaderBuildOffset - 4);

char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

bool SamePathIgnoringCase(const char16_t* a, const char16_t* b) {
    for (; *a && *b; ++a, ++b)
        if (Lower(*a) != Lower(*b)) return false;
    return *a == *b;
}

// The service library verifies by its own path list; match its rows by name, not position.
uint32_t ExpectedChecksumOf(const SegmentEntry& segment, bool advanced) {
    for (const ExpectedChecksum& row : ExpectedChecksums)
        if (SamePathIgnoringCase(row.path, segment.devicePath)) return ExpectedChecksumFor(row, advanced);
    throw std::logic_error(std::string("no expected checksum for segment ") + segment.name);
}

uint64_t Fnv1a64(uint64_t h, const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
    return h;
}

uint64_t SegmentSeed(const RomSpec& spec, uint32_t segmentIndex) {
    uint64_t h = 0xCBF29CE484222325ull;
    uint8_t config = spec.advanced ? 1 : 0;
    h = Fnv1a64(h, &config, 1);
    h = Fnv1a64(h, spec.buildDigits, 8);
    h = Fnv1a64(h, &segmentIndex, sizeof segmentIndex);
    return h;
}

// splitmix64: fast, and every seed gives a well-spread stream.
void FillPseudoRandom(uint8_t* out, size_t n, uint64_t state) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        state += 0x9E3779B97F4A7C15ull;
        uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        std::memcpy(out + i, &z, 8);
    }
    for (; i < n; ++i) out[i] = uint8_t(state >> (8 * (i % 8)));
}

RomIdentity MakeIdentity(const RomSpec& spec) {
    RomIdentity id{};
    std::memcpy(id.magic, kRomIdentityMagic, sizeof id.magic);
    id.build = RomBuildFor(spec);
    id.languageId = LanguageIdForCode(spec.language);
    id.memoryConfig = ModelFor(spec.advanced).memoryConfig;
    size_t units = spec.versionText.size();
    std::memcpy(id.versionText, spec.versionText.data(), units * sizeof(char16_t));
    id.check = RomIdentityCheck(id);
    return id;
}

void FillSegment(const RomSpec& spec, uint32_t index, uint8_t* out) {
    const SegmentEntry& segment = kSegmentTable[index];
    uint32_t expected = ExpectedChecksumOf(segment, spec.advanced);
    // Segments the table expects to checksum to 0 are left as erased flash.
    if (expected == 0) {
        std::memset(out, 0xFF, segment.size);
        return;
    }
    FillPseudoRandom(out, segment.size, SegmentSeed(spec, index));
    if (index == 0) {
        RomIdentity id = MakeIdentity(spec);
        std::memcpy(out, &id, sizeof id);
    }
    if (!FitChecksum(out, segment.size, expected))
        throw std::logic_error(std::string("expected checksum out of reach for ") + segment.name);
}

void RequireValid(const RomSpec& spec) {
    std::string problem = ValidateSpec(spec);
    if (!problem.empty()) throw std::invalid_argument(problem);
}

void FillSegments(const RomSpec& spec, uint8_t* out) {
    for (uint32_t i = 0; i < kSegmentCount; ++i)
        FillSegment(spec, i, out + (kSegmentTable[i].packageOffset - kPackageSegmentsOffset));
}

}  // namespace

uint32_t LanguageIdForCode(const char* code) {
    if (code == nullptr) return 0;
    for (const LanguageCode& l : kLanguages)
        if (std::strcmp(code, l.code) == 0) return l.id;
    return 0;
}

uint32_t RomBuildFor(const RomSpec& spec) {
    uint32_t build = 0;
    for (int i = 0; i < 8; ++i) build = (build << 4) | uint32_t(spec.buildDigits[i] - '0');
    return build;
}

std::string ValidateSpec(const RomSpec& spec) {
    for (int i = 0; i < 8; ++i)
        if (spec.buildDigits[i] < '0' || spec.buildDigits[i] > '9')
            return "the build must be exactly eight decimal digits";
    if (spec.buildDigits[8] != '\0') return "the build must be exactly eight decimal digits";
    if (LanguageIdForCode(spec.language) == 0)
        return "the language must be one of GE, EN, SP, FR, IT";
    if (spec.versionText.size() > sizeof(RomIdentity::versionText) / sizeof(char16_t))
        return "the version text must be at most 16 characters";
    if (spec.versionText.find(u'\0') != std::u16string::npos)
        return "the version text must not contain a NUL character";
    return {};
}

void MakePlainHeader(const RomSpec& spec, uint8_t header[36]) {
    std::memset(header, 0, kPackageHeaderBytes);
    std::memcpy(header + kHeaderSignatureOffset, kHeaderSignature, sizeof kHeaderSignature);
    std::memcpy(header + 4, spec.advanced ? kHeaderTextAdvanced : kHeaderTextBasic, 20);
    std::memcpy(header + kHeaderBuildOffset, spec.buildDigits, 8);
    std::memcpy(header + kHeaderLanguageOffset, spec.language, 2);
}

std::vector<uint8_t> BuildSegments(const RomSpec& spec) {
    RequireValid(spec);
    std::vector<uint8_t> image(kPackageSegmentsBytes);
    FillSegments(spec, image.data());
    return image;
}

std::vector<uint8_t> BuildPackage(const RomSpec& spec) {
    RequireValid(spec);
    std::vector<uint8_t> package(kPackageMinimumBytes, 0);
    FillSegments(spec, package.data() + kPackageSegmentsOffset);
    MakePlainHeader(spec, package.data());
    DescrambleHeader(package.data(), MakeRomPackageKey());
    return package;
}

std::string PackageFileName(const RomSpec& spec) {
    return std::string(spec.advanced ? "R47_NK_H" : "R47_NK_L") + std::string(spec.buildDigits, 8) +
           ".img";
}

}  // namespace romimage
