#include <fnmatch.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "format/rom_package_header.h"
#include "format/rom_package_key.h"
#include "tools/romimage/rom_image.h"
#include "rompkg.h"
#include "format/segment_checksum.h"
#include "shared/configuration.h"
#include "shared/rom_identity.h"
#include "shared/segment_table.h"

namespace rompkg {
namespace {

// Collects what does not fit; any problem makes the exit status kExitBadPackage.
struct Problems {
    std::ostream& err;
    int count = 0;
    void Add(const std::string& text) {
        err << "rompkg: " << text << "\n";
        ++count;
    }
};

std::string Printable(const uint8_t* p, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += (p[i] >= 0x20 && p[i] < 0x7F) ? std::string(1, char(p[i])) : fmt::format("\\x{:02X}", p[i]);
    return s;
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<bool> ConfigurationFromName(const std::string& path) {
    std::string name = BaseName(path);
    if (::fnmatch("R47_NK_H*.img", name.c_str(), FNM_CASEFOLD) == 0) return true;
    if (::fnmatch("R47_NK_L*.img", name.c_str(), FNM_CASEFOLD) == 0) return false;
    return std::nullopt;
}

std::optional<bool> ConfigurationFromWord(uint32_t memoryConfig) {
    if (memoryConfig == kMemoryConfigAdvanced) return true;
    if (memoryConfig == kMemoryConfigBasic) return false;
    return std::nullopt;
}

const char* ConfigurationName(bool advanced) { return advanced ? "advanced" : "basic"; }

std::string Utf8Of(const char16_t* text, size_t maxUnits) {
    std::string s;
    for (size_t i = 0; i < maxUnits && text[i] != 0; ++i) {
        char16_t c = text[i];
        if (c < 0x80) {
            s += char(c);
        } else {
            s += fmt::format("\\u{:04X}", unsigned(c));
        }
    }
    return s;
}

bool IsLanguageCode(const char* code) { return romimage::LanguageIdForCode(code) != 0; }

// Returns the header's build digits when they are eight decimal digits.
void InspectHeader(PackageSource& source, std::ostream& out, Problems& problems,
                   std::string& buildText) {
    if (source.Size() < kPackageHeaderBytes) {
        problems.Add(fmt::format("file too short for a package header: {} bytes, a header needs {}",
                                 source.Size(), kPackageHeaderBytes));
        return;
    }
    uint8_t header[kPackageHeaderBytes];
    if (!source.ReadAt(0, header, sizeof header)) {
        problems.Add("cannot read the package header");
        return;
    }
    DescrambleHeader(header, MakeRomPackageKey());
    bool signatureOk = std::memcmp(header, kHeaderSignature, sizeof kHeaderSignature) == 0;
    std::string build = Printable(header + kHeaderBuildOffset, kHeaderBuildEnd - kHeaderBuildOffset);
    char language[3];
    PackageLanguage(header, language);
    out << fmt::format("Header\n  signature  \"{}\"{}\n", Printable(header, 4),
                       signatureOk ? "" : "  (expected \"VORN\")");
    out << fmt::format("  build      \"{}\", read as {}\n", build, PackageBuild(header));
    out << fmt::format("  language   \"{}\"\n", Printable(header + kHeaderLanguageOffset, 2));
    if (!signatureOk)
        problems.Add(fmt::format("bad signature \"{}\": the header must begin with \"VORN\"",
                                 Printable(header, 4)));
    bool digits = true;
    for (uint32_t i = kHeaderBuildOffset; i < kHeaderBuildEnd; ++i)
        digits = digits && header[i] >= '0' && header[i] <= '9';
    if (digits)
        buildText.assign(reinterpret_cast<const char*>(header + kHeaderBuildOffset), 8);
    else if (signatureOk)
        problems.Add(fmt::format("header build \"{}\" is not eight decimal digits", build));
    if (signatureOk && !IsLanguageCode(language))
        problems.Add(fmt::format("header language \"{}\" is not one of GE, EN, SP, FR, IT",
                                 Printable(header + kHeaderLanguageOffset, 2)));
}

// The identity record at the start of the kernel segment; its configuration when valid.
std::optional<bool> InspectIdentity(PackageSource& source, const std::string& buildText,
                                    std::ostream& out, Problems& problems) {
    if (source.Size() < kPackageSegmentsOffset + sizeof(RomIdentity)) return std::nullopt;
    RomIdentity id;
    uint8_t raw[sizeof id];
    if (!source.ReadAt(kPackageSegmentsOffset, raw, sizeof raw)) {
        problems.Add("cannot read the ROM identity record");
        return std::nullopt;
    }
    std::memcpy(&id, raw, sizeof id);
    if (!IsValidRomIdentity(id)) {
        out << "ROM identity\n  none: the kernel segment does not begin with a valid record\n";
        problems.Add("the kernel segment does not begin with a valid ROM identity record");
        return std::nullopt;
    }
    std::optional<bool> config = ConfigurationFromWord(id.memoryConfig);
    out << fmt::format("ROM identity\n  build      0x{:08X}\n  language   {}\n", id.build, id.languageId);
    out << fmt::format("  memory     0x{:08X} ({})\n", id.memoryConfig,
                       config ? ConfigurationName(*config) : "unknown configuration");
    out << fmt::format("  version    \"{}\"\n", Utf8Of(id.versionText, 16));
    if (!config)
        problems.Add(fmt::format("ROM identity names an unknown memory configuration 0x{:08X}",
                                 id.memoryConfig));
    if (!buildText.empty() && std::strtoul(buildText.c_str(), nullptr, 16) != id.build)
        problems.Add(fmt::format("ROM identity build 0x{:08X} is not the header build {} read as "
                                 "hexadecimal", id.build, buildText));
    return config;
}

uint32_t ExpectedFor(const SegmentEntry& segment, bool advanced) {
    for (const ExpectedChecksum& row : ExpectedChecksums) {
        const char16_t* a = row.path;
        const char16_t* b = segment.devicePath;
        auto lower = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; };
        while (*a && *b && lower(*a) == lower(*b)) ++a, ++b;
        if (*a == 0 && *b == 0) return ExpectedChecksumFor(row, advanced);
    }
    return 0;
}

// The segment's checksum, read in pieces of a fixed size; nothing when reading fails.
std::optional<uint32_t> StreamChecksum(PackageSource& source, const SegmentEntry& segment) {
    static constexpr size_t kPiece = 64 * 1024;
    std::vector<uint8_t> piece(kPiece);
    ChecksumStream stream;
    for (uint64_t done = 0; done < segment.size;) {
        size_t n = size_t(std::min<uint64_t>(kPiece, segment.size - done));
        if (!source.ReadAt(segment.packageOffset + done, piece.data(), n)) return std::nullopt;
        stream.Add(piece.data(), uint32_t(n));
        done += n;
    }
    return stream.Value();
}

void InspectSegments(PackageSource& source, std::optional<bool> config, std::ostream& out,
                     Problems& problems) {
    if (source.Size() < kPackageMinimumBytes) {
        problems.Add(fmt::format("file too short for the 12 segments: {} bytes, a package needs {}",
                                 source.Size(), kPackageMinimumBytes));
    }
    out << fmt::format("Segments{}\n", config ? fmt::format(" (checked against the {} column)",
                                                            ConfigurationName(*config))
                                              : std::string());
    out << "  (= the checksum matches the table, x it differs)\n";
    out << fmt::format("  {:<12} {:>8}  {:>8}  {:>8}\n", "segment", "checksum", "advanced", "basic");
    for (const SegmentEntry& s : kSegmentTable) {
        if (source.Size() < uint64_t(s.packageOffset) + s.size) {
            out << fmt::format("  {:<12} {:>8}\n", s.name, "missing");
            continue;
        }
        std::optional<uint32_t> streamed = StreamChecksum(source, s);
        if (!streamed) {
            out << fmt::format("  {:<12} {:>8}\n", s.name, "unread");
            problems.Add(fmt::format("cannot read segment {}", s.name));
            continue;
        }
        uint32_t sum = *streamed;
        uint32_t adv = ExpectedFor(s, true);
        uint32_t basic = ExpectedFor(s, false);
        auto mark = [&](uint32_t expected) { return fmt::format("{:>8}{}", expected, sum == expected ? "=" : "x"); };
        out << fmt::format("  {:<12} {:>8}  {}  {}\n", s.name, sum, mark(adv), mark(basic));
        if (config && sum != ExpectedFor(s, *config))
            problems.Add(fmt::format("segment {} checksums to {}, the {} table expects {}", s.name,
                                     sum, ConfigurationName(*config), ExpectedFor(s, *config)));
    }
}

}  // namespace

int Inspect(const std::string& name, PackageSource& source, std::ostream& out, std::ostream& err) {
    Problems problems{err};
    out << fmt::format("File {} ({} bytes)\n", name, source.Size());
    std::string buildText;
    InspectHeader(source, out, problems, buildText);
    std::optional<bool> fromName = ConfigurationFromName(name);
    std::optional<bool> fromIdentity = InspectIdentity(source, buildText, out, problems);
    if (fromName && fromIdentity && *fromName != *fromIdentity)
        problems.Add(fmt::format("the file name names the {} configuration, the ROM identity the {}",
                                 ConfigurationName(*fromName), ConfigurationName(*fromIdentity)));
    std::optional<bool> config = fromName ? fromName : fromIdentity;
    if (source.Size() >= kPackageHeaderBytes) {
        if (!config)
            problems.Add("cannot tell the configuration: the file name is not R47_NK_H*.img or "
                         "R47_NK_L*.img and there is no ROM identity record");
        InspectSegments(source, config, out, problems);
    }
    if (problems.count != 0) {
        out << fmt::format("Result: does not fit the package format ({} problem{})\n", problems.count,
                           problems.count == 1 ? "" : "s");
        return kExitBadPackage;
    }
    out << fmt::format("Result: a {} package; every segment matches\n", ConfigurationName(*config));
    return kExitOk;
}

namespace {

class MemorySource : public PackageSource {
public:
    explicit MemorySource(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    uint64_t Size() const override { return bytes_.size(); }
    bool ReadAt(uint64_t offset, uint8_t* buffer, size_t length) override {
        std::memcpy(buffer, bytes_.data() + offset, length);
        return true;
    }

private:
    const std::vector<uint8_t>& bytes_;
};

}  // namespace

int Inspect(const std::string& name, const std::vector<uint8_t>& bytes, std::ostream& out,
            std::ostream& err) {
    MemorySource source(bytes);
    return Inspect(name, source, out, err);
}

}  // namespace rompkg
