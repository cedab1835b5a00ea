// The handheld's registry: a tree of case-insensitive keys holding typed values, with the
// ROM defaults a cold boot restores. Host-side access for the machine, tools and tests; the
// Windows CE registry functions are built on the same tree. Host paths are below
// HKEY_LOCAL_MACHINE, keys separated by "\" (u"Drivers\\BuiltIn\\USB"). Thread-safe.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tova {

// The longest name of one key, in UTF-16 code units.
inline constexpr size_t kMaxKeyNameUnits = 255;

struct RegValue {
    uint32_t type = 0;  // REG_SZ, REG_DWORD, ...
    std::vector<uint8_t> data;

    static RegValue Dword(uint32_t v);
    static RegValue String(std::u16string_view s);  // REG_SZ with its NUL
    bool operator==(const RegValue&) const = default;
};

// The ten driver keys below HKLM\Drivers\BuiltIn that the service library removes before
// a warm reset, and the driver keys of the ROM defaults that stay.
extern const std::u16string_view kRomRemovableDriverKeys[10];
extern const std::u16string_view kRomLastingDriverKeys[5];

// One key of the tree. Handles of the Windows CE functions hold keys by shared_ptr, so a
// deleted key stays valid memory and answers ERROR_KEY_DELETED.
struct RegKey {
    std::u16string name;
    RegKey* parent = nullptr;
    bool deleted = false;
    std::vector<std::shared_ptr<RegKey>> subkeys;                 // in creation order
    std::vector<std::pair<std::u16string, RegValue>> values;      // in creation order

    RegKey* FindSubkey(std::u16string_view name) const;
    std::pair<std::u16string, RegValue>* FindValue(std::u16string_view name);
};

class Registry {
public:
    // The hive the host paths are below, and the others the API accepts.
    enum class Hive { kLocalMachine, kCurrentUser, kClassesRoot, kUsers };

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
    // Subkey and value names in their stable (creation) order, first spelling kept.
    std::vector<std::u16string> SubKeys(std::u16string_view key) const;
    std::vector<std::u16string> ValueNames(std::u16string_view key) const;

    void ResetToRomDefaults();
    // A versioned text file. Load throws StateError for a missing or corrupt file and then
    // leaves the registry as it was.
    void Save(const std::filesystem::path& file) const;
    void Load(const std::filesystem::path& file);

    // Values whose deletion is refused (a fault knob): pairs of key path and value name.
    void SetUndeletableValues(std::vector<std::pair<std::u16string, std::u16string>> values);
    bool IsUndeletable(const RegKey& key, std::u16string_view valueName) const;

    // ---- For the Windows CE registry functions; callers hold Mutex(). ----
    std::mutex& Mutex() const { return mutex_; }
    std::shared_ptr<RegKey> HiveRoot(Hive hive) const;
    // The key at `path` below `from` ("" is `from` itself), or null. Invalid paths give null.
    static std::shared_ptr<RegKey> Lookup(const std::shared_ptr<RegKey>& from,
                                          std::u16string_view path);
    // Creates missing keys along `path`; null for an invalid path. `created` tells whether
    // the last key was new.
    static std::shared_ptr<RegKey> CreatePath(const std::shared_ptr<RegKey>& from,
                                              std::u16string_view path, bool* created);
    // Detaches `key` from its parent and marks it and every key below deleted.
    static void Detach(RegKey& key);
    static std::u16string FullPath(const RegKey& key);  // below the hive root

private:
    void FillRomDefaults();

    mutable std::mutex mutex_;
    std::shared_ptr<RegKey> hives_[4];
    std::vector<std::pair<std::u16string, std::u16string>> undeletable_;
};

}  // namespace tova
