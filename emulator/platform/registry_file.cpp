// The registry's file in the state folder:
//   tova-registry 1
//   hive <n>                      n = 0 HKLM, 1 HKCU, 2 HKCR, 3 HKU
//   key <escaped path below the hive>
//   value <escaped name> <type> <hex data>      (belongs to the key above it)
//   end
#include <fstream>
#include <sstream>

#include "text_escape.h"
#include "tova/registry.h"
#include "tova/state_error.h"

namespace tova {

namespace {

constexpr char kRegistryMagic[] = "tova-registry 1";

void WriteKey(std::ostream& out, const RegKey& key, const std::u16string& path) {
    if (!path.empty()) out << "key " << EscapeName(path) << "\n";
    for (const auto& [name, value] : key.values)
        out << "value " << EscapeName(name) << " " << value.type << " "
            << (value.data.empty() ? std::string("-") : HexBytes(value.data.data(), value.data.size()))
            << "\n";
    for (const auto& sub : key.subkeys)
        WriteKey(out, *sub, path.empty() ? sub->name : path + u"\\" + sub->name);
}

[[noreturn]] void Corrupt(const std::filesystem::path& file, size_t line, const std::string& what) {
    throw StateError("registry file " + file.string() + " is corrupt at line " +
                     std::to_string(line) + ": " + what);
}

}  // namespace

void Registry::Save(const std::filesystem::path& file) const {
    std::ostringstream out;
    out << kRegistryMagic << "\n";
    {
        std::lock_guard lock(mutex_);
        for (int h = 0; h < 4; ++h) {
            out << "hive " << h << "\n";
            WriteKey(out, *hives_[h], u"");
        }
    }
    out << "end\n";
    auto temp = file;
    temp += ".tmp";
    {
        std::ofstream f(temp, std::ios::binary | std::ios::trunc);
        f << out.str();
        if (!f) throw StateError("cannot write registry file " + temp.string());
    }
    std::error_code ec;
    std::filesystem::rename(temp, file, ec);
    if (ec) throw StateError("cannot replace registry file " + file.string() + ": " + ec.message());
}

void Registry::Load(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw StateError("registry file " + file.string() + " is missing or unreadable");
    std::string line;
    size_t number = 1;
    if (!std::getline(in, line) || line != kRegistryMagic)
        Corrupt(file, number, "not a registry file of this version");
    std::shared_ptr<RegKey> fresh[4];
    for (auto& h : fresh) h = std::make_shared<RegKey>();
    std::shared_ptr<RegKey> hive, key;
    bool ended = false;
    while (std::getline(in, line)) {
        ++number;
        if (ended) Corrupt(file, number, "text after the end");
        std::istringstream words(line);
        std::string tag;
        words >> tag;
        if (tag == "end") {
            ended = true;
        } else if (tag == "hive") {
            int h = -1;
            if (!(words >> h) || h < 0 || h > 3) Corrupt(file, number, "bad hive");
            hive = key = fresh[h];
        } else if (tag == "key") {
            std::string path;
            words >> path;
            auto name = UnescapeName(path);
            if (!hive || !name) Corrupt(file, number, "bad key");
            key = CreatePath(hive, *name, nullptr);
            if (!key) Corrupt(file, number, "bad key path");
        } else if (tag == "value") {
            std::string name, hex;
            uint32_t type = 0;
            if (!key || !(words >> name >> type >> hex)) Corrupt(file, number, "bad value");
            auto decodedName = UnescapeName(name);
            auto data = hex == "-" ? std::optional<std::string>("") : UnhexBytes(hex);
            if (!decodedName || !data) Corrupt(file, number, "bad value encoding");
            key->values.emplace_back(*decodedName,
                                     RegValue{type, std::vector<uint8_t>(data->begin(), data->end())});
        } else {
            Corrupt(file, number, "unknown line");
        }
    }
    if (!ended) Corrupt(file, number, "the file ends early");
    std::lock_guard lock(mutex_);
    for (int h = 0; h < 4; ++h) {
        auto old = hives_[h]->subkeys;
        for (auto& sub : old) Detach(*sub);
        hives_[h] = fresh[h];
    }
}

}  // namespace tova
