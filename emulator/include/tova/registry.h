// The handheld's registry: a tree of case-insensitive keys holding typed values, with the
// ROM defaults a cold boot restores. Host-side access for the machine, tools and tests; the
// Windows CE registry functions are built on it. Paths are below HKEY_LOCAL_MACHINE, keys
// separated by "\" (u"Drivers\\BuiltIn\\USB"). Thread-safe.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tova {

struct RegValue {
    uint32_t type = 0;  // REG_SZ, REG_DWORD, ...
    std::vector<uint8_t> data;

    static RegValue Dword(uint32_t v);
    static RegValue String(std::u16string_view s);  // REG_SZ with its NUL
    bool operator==(const RegValue&) const = default;
};

// The driver keys below HKLM\Drivers\BuiltIn in the ROM defaults.
extern const char16_t* const kRomBuiltInDriverKeys[];
extern const size_t kRomBuiltInDriverKeyCount;

class Registry {
public:
    Registry();  // ROM defaults
    ~Registry();

    bool KeyExists(std::u16string_view key) const;
    // Creates the key and missing parents; false for an invalid path.
    bool CreateKey(std::u16string_view key);
    // Deletes the key with all its subkeys; false if it does not exist.
    bool DeleteKey(std::u16string_view key);
    std::optional<RegValue> GetValue(std::u16string_view key, std::u16string_view name) const;
    bool SetValue(std::u16string_view key, std::u16string_view name, const RegValue& value);
    bool DeleteValue(std::u16string_view key, std::u16string_view name);
    // Subkey and value names in their stable (insertion) order, first spelling kept.
    std::vector<std::u16string> SubKeys(std::u16string_view key) const;
    std::vector<std::u16string> ValueNames(std::u16string_view key) const;

    void ResetToRomDefaults();
    // Text file; Load throws StateError on a corrupt file.
    void Save(const std::filesystem::path& file) const;
    void Load(const std::filesystem::path& file);

    // The tree itself, for the Windows CE registry functions.
    struct Key;
    std::mutex& Mutex() const { return mutex_; }
    Key& Root() { return *root_; }

private:
    mutable std::mutex mutex_;
    std::unique_ptr<Key> root_;
};

}  // namespace tova
