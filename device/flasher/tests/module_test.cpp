// Velkor.exe as a file: what it exports and the resource it carries.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "handheld.h"

namespace flasher_test {
namespace {

class ElfFile {
public:
    explicit ElfFile(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(in), {});
    }
    bool Valid() const {
        return bytes_.size() > sizeof(Elf64_Ehdr) && std::memcmp(bytes_.data(), ELFMAG, SELFMAG) == 0 &&
               bytes_[EI_CLASS] == ELFCLASS64;
    }
    std::optional<Elf64_Shdr> Section(const std::string& name) const {
        for (const Elf64_Shdr& s : Sections())
            if (SectionName(s) == name) return s;
        return std::nullopt;
    }
    std::vector<uint8_t> Contents(const Elf64_Shdr& s) const {
        return {bytes_.begin() + long(s.sh_offset), bytes_.begin() + long(s.sh_offset + s.sh_size)};
    }
    // Global symbols the module defines in its dynamic symbol table.
    std::set<std::string> Exports() const {
        std::set<std::string> names;
        auto dynsym = Section(".dynsym");
        auto dynstr = Section(".dynstr");
        if (!dynsym || !dynstr) return names;
        for (uint64_t off = 0; off + sizeof(Elf64_Sym) <= dynsym->sh_size; off += sizeof(Elf64_Sym)) {
            Elf64_Sym sym;
            std::memcpy(&sym, bytes_.data() + dynsym->sh_offset + off, sizeof sym);
            if (sym.st_shndx == SHN_UNDEF || ELF64_ST_BIND(sym.st_info) == STB_LOCAL) continue;
            names.insert(reinterpret_cast<const char*>(bytes_.data() + dynstr->sh_offset + sym.st_name));
        }
        return names;
    }

private:
    Elf64_Ehdr Header() const {
        Elf64_Ehdr h;
        std::memcpy(&h, bytes_.data(), sizeof h);
        return h;
    }
    std::vector<Elf64_Shdr> Sections() const {
        Elf64_Ehdr h = Header();
        std::vector<Elf64_Shdr> out(h.e_shnum);
        for (size_t i = 0; i < out.size(); ++i)
            std::memcpy(&out[i], bytes_.data() + h.e_shoff + i * h.e_shentsize, sizeof(Elf64_Shdr));
        return out;
    }
    std::string SectionName(const Elf64_Shdr& s) const {
        Elf64_Ehdr h = Header();
        Elf64_Shdr names = Sections()[h.e_shstrndx];
        return reinterpret_cast<const char*>(bytes_.data() + names.sh_offset + s.sh_name);
    }

    std::vector<uint8_t> bytes_;
};

TEST(VelkorModule, ExportsFlasherMainAndNothingElse) {
    ElfFile module(BuiltFlasherModule());
    ASSERT_TRUE(module.Valid()) << BuiltFlasherModule();
    EXPECT_EQ(module.Exports(), std::set<std::string>{"FlasherMain"});
}

TEST(VelkorModule, CarriesIconGroup105AndNoOtherResource) {
    ElfFile module(BuiltFlasherModule());
    ASSERT_TRUE(module.Valid());
    auto icon = module.Section(".tova_icon");
    ASSERT_TRUE(icon.has_value());
    std::vector<uint8_t> bytes = module.Contents(*icon);
    ASSERT_GE(bytes.size(), 16u + 32u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data())), "ICONGRP");
    uint16_t id, width, height;
    std::memcpy(&id, &bytes[8], 2);
    std::memcpy(&width, &bytes[10], 2);
    std::memcpy(&height, &bytes[12], 2);
    EXPECT_EQ(id, 105);
    EXPECT_EQ(width, 16);
    EXPECT_EQ(height, 16);
    EXPECT_FALSE(module.Section(".tova_version").has_value());
}

}  // namespace
}  // namespace flasher_test
