// The registry's file in the state folder:
//   tova-registry 1
//   hive <n>                      n = 0 HKLM, 1 HKCU, 2 HKCR, 3 HKU
//   key <escaped path below the hive>
//   value <escaped name> <type> <hex data>      (belongs to the key above it)
//   end
#include <fstream>
#include <functional>
#include <sstream>
#include <string_view>
#include <unordered_map>

#include "text_escape.h"
#include "emulator/files/atomic_file.h"
#include "emulator/object_store.h"  // FoldCase
#include "emulator/registry.h"
#include "emulator/state_error.h"

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

// The keys made while a file is read, by parent and case-folded name: finding each key of
// a line costs its path's length, where searching the siblings made loading quadratic in
// the number of keys below one parent.
class LoadedKeys {
public:
    // The key at `path` below `hive`, made with any missing parents; null for a bad path.
    std::shared_ptr<RegKey> FindOrMake(const std::shared_ptr<RegKey>& hive, std::u16string_view path) {
        if (!path.empty() && path.front() == u'\\') path.remove_prefix(1);
        if (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
        std::shared_ptr<RegKey> at = hive;
        while (!path.empty()) {
            size_t end = path.find(u'\\');
            std::u16string_view name = path.substr(0, end);
            if (name.empty() || name.size() > kMaxKeyNameUnits) return nullptr;
            at = Child(at, name);
            if (end == std::u16string_view::npos) break;
            path.remove_prefix(end + 1);
            if (path.empty()) return nullptr;
        }
        return at;
    }

private:
    struct Name {
        const RegKey* parent;
        std::u16string folded;
        bool operator==(const Name&) const = default;
    };
    struct NameHash {
        size_t operator()(const Name& n) const {
            return std::hash<std::u16string>()(n.folded) ^ (std::hash<const void*>()(n.parent) * 31);
        }
    };

    std::shared_ptr<RegKey> Child(const std::shared_ptr<RegKey>& parent, std::u16string_view name) {
        auto [it, made] = keys_.try_emplace(Name{parent.get(), FoldCase(name)});
        if (made) {
            it->second = std::make_shared<RegKey>();
            it->second->name = std::u16string(name);
            it->second->parent = parent.get();
            parent->subkeys.push_back(it->second);
        }
        return it->second;
    }

    std::unordered_map<Name, std::shared_ptr<RegKey>, NameHash> keys_;
};

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
    try {
        files::ReplaceFile(file, out.str());
    } catch (const files::FileError& e) {
        throw StateError("cannot save the registry: " + std::string(e.what()));
    }
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
    LoadedKeys loaded;
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
            key = loaded.FindOrMake(hive, *name);
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
        // Emptied first, so that each detach finds no sibling list to search.
        auto old = std::move(hives_[h]->subkeys);
        hives_[h]->subkeys.clear();
        for (auto& sub : old) Detach(*sub);
        hives_[h] = fresh[h];
    }
}

}  // namespace tova
