#include "arm_module_image.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace arm_test {

namespace {

template <typename T>
bool ReadAt(const std::vector<uint8_t>& bytes, uint64_t offset, T* out) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return false;
    std::memcpy(out, bytes.data() + offset, sizeof(T));
    return true;
}

std::string StringAt(const std::string& table, uint32_t offset) {
    if (offset >= table.size()) return {};
    return std::string(table.c_str() + offset);
}

template <typename Ehdr, typename Shdr>
std::vector<uint8_t> SectionOf(const std::vector<uint8_t>& bytes, const std::string& name) {
    Ehdr eh;
    Shdr names;
    if (!ReadAt(bytes, 0, &eh) ||
        !ReadAt(bytes, eh.e_shoff + uint64_t(eh.e_shstrndx) * eh.e_shentsize, &names) ||
        uint64_t(names.sh_offset) + names.sh_size > bytes.size())
        return {};
    std::string table(reinterpret_cast<const char*>(bytes.data()) + names.sh_offset, names.sh_size);
    for (uint32_t i = 0; i < eh.e_shnum; ++i) {
        Shdr sh;
        if (!ReadAt(bytes, eh.e_shoff + uint64_t(i) * eh.e_shentsize, &sh)) break;
        if (StringAt(table, sh.sh_name) == name && sh.sh_type != SHT_NOBITS &&
            uint64_t(sh.sh_offset) + sh.sh_size <= bytes.size())
            return {bytes.begin() + sh.sh_offset, bytes.begin() + sh.sh_offset + sh.sh_size};
    }
    return {};
}

}  // namespace

std::vector<uint8_t> ElfSectionBytes(const std::filesystem::path& file, const std::string& name) {
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
    if (bytes.size() < EI_NIDENT || std::memcmp(bytes.data(), ELFMAG, SELFMAG) != 0) return {};
    return bytes[EI_CLASS] == ELFCLASS64 ? SectionOf<Elf64_Ehdr, Elf64_Shdr>(bytes, name)
                                         : SectionOf<Elf32_Ehdr, Elf32_Shdr>(bytes, name);
}

std::optional<uint32_t> ArmModuleImage::FileOffset(uint32_t address, uint32_t length) const {
    for (uint32_t i = 0; i < header_.e_phnum; ++i) {
        Elf32_Phdr ph;
        if (!ReadAt(bytes_, header_.e_phoff + uint64_t(i) * header_.e_phentsize, &ph)) break;
        if (ph.p_type != PT_LOAD) continue;
        if (address >= ph.p_vaddr && uint64_t(address) + length <= uint64_t(ph.p_vaddr) + ph.p_filesz)
            return ph.p_offset + (address - ph.p_vaddr);
    }
    return std::nullopt;
}

std::optional<ArmModuleImage> ArmModuleImage::Read(const std::filesystem::path& file,
                                                   std::string* error) {
    ArmModuleImage image;
    std::ifstream in(file, std::ios::binary);
    image.bytes_.assign(std::istreambuf_iterator<char>(in), {});
    auto fail = [&](const std::string& why) -> std::optional<ArmModuleImage> {
        *error = file.string() + ": " + why;
        return std::nullopt;
    };
    if (!ReadAt(image.bytes_, 0, &image.header_) ||
        std::memcmp(image.header_.e_ident, ELFMAG, SELFMAG) != 0)
        return fail("not an ELF file");
    if (image.header_.e_ident[EI_CLASS] != ELFCLASS32) return fail("not a 32-bit ELF file");

    Elf32_Phdr dynamicHeader{};
    bool haveDynamic = false;
    for (uint32_t i = 0; i < image.header_.e_phnum; ++i) {
        Elf32_Phdr ph;
        if (!ReadAt(image.bytes_, image.header_.e_phoff + uint64_t(i) * image.header_.e_phentsize, &ph))
            return fail("program headers cut short");
        if (ph.p_type == PT_DYNAMIC) dynamicHeader = ph, haveDynamic = true;
    }
    if (!haveDynamic) return fail("no dynamic section");
    for (uint32_t at = 0; at + sizeof(Elf32_Dyn) <= dynamicHeader.p_filesz; at += sizeof(Elf32_Dyn)) {
        Elf32_Dyn d;
        if (!ReadAt(image.bytes_, uint64_t(dynamicHeader.p_offset) + at, &d)) break;
        if (d.d_tag == DT_NULL) break;
        image.dynamic_.emplace(d.d_tag, d.d_un.d_val);
    }
    auto one = [&](int32_t tag) -> uint32_t {
        auto it = image.dynamic_.find(tag);
        return it == image.dynamic_.end() ? 0 : it->second;
    };
    auto strings = image.FileOffset(one(DT_STRTAB), one(DT_STRSZ));
    if (!strings) return fail("dynamic string table outside the image");
    image.dynamicStrings_.assign(reinterpret_cast<const char*>(image.bytes_.data()) + *strings,
                                 one(DT_STRSZ));
    // The symbol count is the hash table's chain count.
    Elf32_Word hash[2];
    auto hashAt = image.FileOffset(one(DT_HASH), sizeof hash);
    if (!hashAt || !ReadAt(image.bytes_, *hashAt, &hash)) return fail("no symbol hash table");
    auto symbols = image.FileOffset(one(DT_SYMTAB), hash[1] * sizeof(Elf32_Sym));
    if (!symbols) return fail("dynamic symbols outside the image");
    for (uint32_t i = 1; i < hash[1]; ++i) {
        Elf32_Sym s;
        ReadAt(image.bytes_, *symbols + uint64_t(i) * sizeof s, &s);
        if (ELF32_ST_BIND(s.st_info) == STB_LOCAL) continue;
        image.symbols_.push_back({StringAt(image.dynamicStrings_, s.st_name),
                                  s.st_shndx != SHN_UNDEF, uint8_t(ELF32_ST_TYPE(s.st_info))});
    }
    return image;
}

std::vector<std::string> ArmModuleImage::Needed() const {
    std::vector<std::string> out;
    auto [from, to] = dynamic_.equal_range(DT_NEEDED);
    for (auto it = from; it != to; ++it) out.push_back(StringAt(dynamicStrings_, it->second));
    return out;
}

std::vector<std::string> ArmModuleImage::Defined() const {
    std::vector<std::string> out;
    for (const auto& s : symbols_)
        if (s.defined && s.type == STT_FUNC) out.push_back(s.name);
    return out;
}

std::vector<std::string> ArmModuleImage::Imported() const {
    std::vector<std::string> out;
    for (const auto& s : symbols_)
        if (!s.defined) out.push_back(s.name);
    return out;
}

std::vector<uint32_t> ArmModuleImage::RelocationTypes() const {
    std::vector<uint32_t> out;
    for (auto [tableTag, sizeTag] : {std::pair{DT_REL, DT_RELSZ}, std::pair{DT_JMPREL, DT_PLTRELSZ}}) {
        auto table = dynamic_.find(tableTag);
        auto size = dynamic_.find(sizeTag);
        if (table == dynamic_.end() || size == dynamic_.end()) continue;
        auto at = FileOffset(table->second, size->second);
        if (!at) continue;
        for (uint32_t i = 0; i + sizeof(Elf32_Rel) <= size->second; i += sizeof(Elf32_Rel)) {
            Elf32_Rel r;
            ReadAt(bytes_, *at + i, &r);
            out.push_back(ELF32_R_TYPE(r.r_info));
        }
    }
    return out;
}

}  // namespace arm_test
