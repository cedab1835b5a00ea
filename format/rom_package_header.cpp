#include "format/rom_package_header.h"

#include <cstdio>
#include <cstring>

#include "shared/segment_table.h"

namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Characters 5, 6, 1, 2, 3, 4, 7, 8 of an 8-character text, read as the decimal number of
// its leading digits (0 when it begins with a non-digit).
uint32_t RearrangedNumber(const char text[8]) {
    const char order[8] = {text[4], text[5], text[0], text[1], text[2], text[3], text[6], text[7]};
    uint32_t value = 0;
    for (char c : order) {
        if (!IsDigit(c)) break;
        value = value * 10 + uint32_t(c - '0');
    }
    return value;
}

}  // namespace

uint64_t ReadRomPackageHeader(const char* path, const RomPackageKey& key,
                              uint8_t header[kRomPackageHeaderBytes]) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return 0;
    uint64_t length = 0;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        long end = std::ftell(file);
        length = end > 0 ? uint64_t(end) : 0;
    }
    std::rewind(file);
    uint8_t raw[kRomPackageHeaderBytes];
    size_t got = std::fread(raw, 1, sizeof raw, file);
    std::fclose(file);
    if (got < kRomPackageHeaderBytes) return 0;
    DescrambleHeader(raw, key);
    std::memcpy(header, raw, sizeof raw);
    if (std::memcmp(header + kHeaderSignatureOffset, kHeaderSignature, sizeof kHeaderSignature) != 0)
        return 0;
    return length;
}

int32_t PackageBuild(const uint8_t header[kRomPackageHeaderBytes]) {
    const char* p = reinterpret_cast<const char*>(header) + kHeaderBuildOffset;
    const char* end = reinterpret_cast<const char*>(header) + kHeaderBuildEnd;
    while (p < end && IsSpace(*p)) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    int32_t value = 0;  // at most 8 digits: no overflow
    for (; p < end && IsDigit(*p); ++p) value = value * 10 + (*p - '0');
    return negative ? -value : value;
}

void PackageLanguage(const uint8_t header[kRomPackageHeaderBytes], char language[3]) {
    language[0] = char(header[kHeaderLanguageOffset]);
    language[1] = char(header[kHeaderLanguageOffset + 1]);
    language[2] = '\0';
}

BuildText DeviceBuildText(uint32_t deviceBuild) {
    BuildText text{};
    std::snprintf(text.digits, sizeof text.digits, "%08x", unsigned(deviceBuild));
    return text;
}

BuildText PackageBuildText(int32_t packageBuild) {
    BuildText text{};
    std::snprintf(text.digits, sizeof text.digits, "%08d", int(packageBuild));
    return text;
}

int IsPackageNewer(uint32_t deviceBuild, int32_t packageBuild) {
    return RearrangedNumber(DeviceBuildText(deviceBuild).digits) <
                   RearrangedNumber(PackageBuildText(packageBuild).digits)
               ? 1
               : 0;
}

bool RunsPackageBuild(uint32_t deviceBuild, int32_t packageBuild) {
    return std::strcmp(DeviceBuildText(deviceBuild).digits, PackageBuildText(packageBuild).digits) == 0;
}
