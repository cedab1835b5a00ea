// The registry tree and its host-side operations.
#include "emulator/registry.h"

#include "emulator/object_store.h"  // SameName
#include "platform/wince/types.h"

namespace tova {

namespace {

std::shared_ptr<RegKey> FindChild(const RegKey& key, std::u16string_view name) {
    for (const auto& sub : key.subkeys)
        if (SameName(sub->name, name)) return sub;
    return nullptr;
}

// Splits "A\B\C" into its names; a leading or trailing "\" is tolerated, an empty name
// between two separators or an over-long name is not.
bool SplitKeyPath(std::u16string_view path, std::vector<std::u16string_view>* names) {
    if (!path.empty() && path.front() == u'\\') path.remove_prefix(1);
    if (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
    while (!path.empty()) {
        size_t end = path.find(u'\\');
        std::u16string_view name = path.substr(0, end);
        if (name.empty() || name.size() > kMaxKeyNameUnits) return false;
        names->push_back(name);
        if (end == std::u16string_view::npos) break;
        path.remove_prefix(end + 1);
        if (path.empty()) return false;
    }
    return true;
}

}  // namespace

RegValue RegValue::Dword(uint32_t v) {
    RegValue r{REG_DWORD, std::vector<uint8_t>(4)};
    for (int i = 0; i < 4; ++i) r.data[i] = static_cast<uint8_t>(v >> (8 * i));
    return r;
}

RegValue RegValue::String(std::u16string_view s) {
    RegValue r{REG_SZ, {}};
    for (char16_t c : s) {
        r.data.push_back(static_cast<uint8_t>(c));
        r.data.push_back(static_cast<uint8_t>(c >> 8));
    }
    r.data.push_back(0);
    r.data.push_back(0);
    return r;
}

RegKey* RegKey::FindSubkey(std::u16string_view wanted) const {
    return FindChild(*this, wanted).get();
}

std::pair<std::u16string, RegValue>* RegKey::FindValue(std::u16string_view wanted) {
    for (auto& v : values)
        if (SameName(v.first, wanted)) return &v;
    return nullptr;
}

Registry::Registry() {
    for (auto& hive : hives_) hive = std::make_shared<RegKey>();
    FillRomDefaults();
}

Registry::~Registry() = default;

std::shared_ptr<RegKey> Registry::HiveRoot(Hive hive) const {
    return hives_[static_cast<int>(hive)];
}

std::shared_ptr<RegKey> Registry::Lookup(const std::shared_ptr<RegKey>& from,
                                         std::u16string_view path) {
    std::vector<std::u16string_view> names;
    if (!from || !SplitKeyPath(path, &names)) return nullptr;
    std::shared_ptr<RegKey> at = from;
    for (auto name : names) {
        at = FindChild(*at, name);
        if (!at) return nullptr;
    }
    return at;
}

std::shared_ptr<RegKey> Registry::CreatePath(const std::shared_ptr<RegKey>& from,
                                             std::u16string_view path, bool* created) {
    std::vector<std::u16string_view> names;
    if (created) *created = false;
    if (!from || from->deleted || !SplitKeyPath(path, &names)) return nullptr;
    std::shared_ptr<RegKey> at = from;
    for (auto name : names) {
        auto next = FindChild(*at, name);
        if (!next) {
            next = std::make_shared<RegKey>();
            next->name = std::u16string(name);
            next->parent = at.get();
            at->subkeys.push_back(next);
            if (created) *created = true;
        } else if (created) {
            *created = false;
        }
        at = next;
    }
    return at;
}

void Registry::Detach(RegKey& key) {
    if (key.parent) {
        auto& siblings = key.parent->subkeys;
        for (auto it = siblings.begin(); it != siblings.end(); ++it) {
            if (it->get() == &key) {
                siblings.erase(it);
                break;
            }
        }
    }
    std::vector<RegKey*> pending{&key};
    while (!pending.empty()) {
        RegKey* k = pending.back();
        pending.pop_back();
        k->deleted = true;
        k->parent = nullptr;
        for (auto& sub : k->subkeys) pending.push_back(sub.get());
    }
}

std::u16string Registry::FullPath(const RegKey& key) {
    std::u16string path;
    for (const RegKey* k = &key; k && k->parent; k = k->parent)
        path = path.empty() ? k->name : k->name + u"\\" + path;
    return path;
}

bool Registry::KeyExists(std::u16string_view key) const {
    std::lock_guard lock(mutex_);
    return Lookup(HiveRoot(Hive::kLocalMachine), key) != nullptr;
}

bool Registry::CreateKey(std::u16string_view key) {
    std::lock_guard lock(mutex_);
    return CreatePath(HiveRoot(Hive::kLocalMachine), key, nullptr) != nullptr;
}

bool Registry::DeleteKey(std::u16string_view key) {
    std::lock_guard lock(mutex_);
    auto found = Lookup(HiveRoot(Hive::kLocalMachine), key);
    if (!found || !found->parent) return false;  // a hive root cannot be deleted
    Detach(*found);
    return true;
}

std::optional<RegValue> Registry::GetValue(std::u16string_view key,
                                           std::u16string_view name) const {
    std::lock_guard lock(mutex_);
    auto found = Lookup(HiveRoot(Hive::kLocalMachine), key);
    if (!found) return std::nullopt;
    auto* value = found->FindValue(name);
    if (!value) return std::nullopt;
    return value->second;
}

bool Registry::SetValue(std::u16string_view key, std::u16string_view name,
                        const RegValue& value) {
    std::lock_guard lock(mutex_);
    auto found = Lookup(HiveRoot(Hive::kLocalMachine), key);
    if (!found) return false;
    if (auto* existing = found->FindValue(name)) existing->second = value;
    else found->values.emplace_back(std::u16string(name), value);
    return true;
}

bool Registry::DeleteValue(std::u16string_view key, std::u16string_view name) {
    std::lock_guard lock(mutex_);
    auto found = Lookup(HiveRoot(Hive::kLocalMachine), key);
    if (!found || IsUndeletable(*found, name)) return false;
    auto& values = found->values;
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (SameName(it->first, name)) {
            values.erase(it);
            return true;
        }
    }
    return false;
}

std::vector<std::u16string> Registry::SubKeys(std::u16string_view key) const {
    std::lock_guard lock(mutex_);
    std::vector<std::u16string> names;
    if (auto found = Lookup(HiveRoot(Hive::kLocalMachine), key))
        for (const auto& sub : found->subkeys) names.push_back(sub->name);
    return names;
}

std::vector<std::u16string> Registry::ValueNames(std::u16string_view key) const {
    std::lock_guard lock(mutex_);
    std::vector<std::u16string> names;
    if (auto found = Lookup(HiveRoot(Hive::kLocalMachine), key))
        for (const auto& v : found->values) names.push_back(v.first);
    return names;
}

void Registry::ResetToRomDefaults() {
    std::lock_guard lock(mutex_);
    for (auto& hive : hives_) {
        // Keys still held by open handles see themselves deleted.
        auto subkeys = hive->subkeys;
        for (auto& sub : subkeys) Detach(*sub);
        hive->values.clear();
    }
    FillRomDefaults();
}

void Registry::SetUndeletableValues(
    std::vector<std::pair<std::u16string, std::u16string>> values) {
    std::lock_guard lock(mutex_);
    undeletable_ = std::move(values);
}

bool Registry::IsUndeletable(const RegKey& key, std::u16string_view valueName) const {
    if (undeletable_.empty() || key.deleted) return false;
    std::u16string path = FullPath(key);
    for (const auto& [k, v] : undeletable_) {
        std::u16string_view wanted = k;
        if (!wanted.empty() && wanted.front() == u'\\') wanted.remove_prefix(1);
        if (SameName(wanted, path) && SameName(v, valueName)) return true;
    }
    return false;
}

}  // namespace tova
