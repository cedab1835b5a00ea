// The object store on a host folder. Every handheld path is split and checked before any
// host path is formed from it; each component is matched against the host folder's entries
// case-insensitively, so a host path is only ever built from names that exist inside the
// store or from a checked new name.
#include "emulator/object_store.h"

#include <algorithm>
#include <fstream>
#include <system_error>

namespace tova {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxPath = 260;

bool IsRefusedUnit(char16_t c) {
    if (c < 0x20) return true;  // NUL and control characters
    switch (c) {
    case u'/': case u':': case u'*': case u'?': case u'"': case u'<': case u'>': case u'|':
        return true;
    default:
        return c >= 0xD800 && c <= 0xDFFF;  // surrogates: no stable host name
    }
}

bool IsValidComponent(std::u16string_view name) {
    if (name.empty() || name == u"." || name == u"..") return false;
    if (name.back() == u'.' || name.back() == u' ') return false;
    return std::none_of(name.begin(), name.end(), IsRefusedUnit);
}

bool SortByFoldedName(const std::u16string& a, const std::u16string& b) {
    return FoldCase(a) < FoldCase(b);
}

// The entry of `folder` whose name matches `name` case-insensitively. Symbolic links are
// never followed: nothing inside the store creates them, and one could point outside.
std::optional<fs::path> MatchEntry(const fs::path& folder, std::u16string_view name) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return std::nullopt;
    for (const auto& entry : it) {
        if (entry.is_symlink(ec)) continue;
        if (SameName(FromUtf8(entry.path().filename().string()), name)) return entry.path();
    }
    return std::nullopt;
}

// A new name in `folder` is usable only when nothing at all is there yet: an entry that
// MatchEntry passed over (a symbolic link) must not be written through.
std::optional<fs::path> NewEntry(const fs::path& folder, std::u16string_view name) {
    fs::path candidate = folder / fs::path(ToUtf8(name));
    std::error_code ec;
    if (fs::symlink_status(candidate, ec).type() != fs::file_type::not_found) return std::nullopt;
    return candidate;
}

}  // namespace

std::optional<std::vector<std::u16string>> SplitHandheldPath(std::u16string_view path) {
    if (path.empty() || path.front() != u'\\' || path.size() > kMaxPath) return std::nullopt;
    std::vector<std::u16string> parts;
    size_t start = 1;
    while (start < path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) end = path.size();
        std::u16string_view part = path.substr(start, end - start);
        if (!IsValidComponent(part)) return std::nullopt;
        parts.emplace_back(part);
        start = end + 1;
        // A trailing "\" after a name is accepted ("\Temp\" is the folder \Temp).
    }
    return parts;
}

ObjectStore::ObjectStore(fs::path root, uint64_t capacity) : root_(std::move(root)), capacity_(capacity) {
    std::error_code ec;
    fs::create_directories(root_, ec);
}

std::optional<fs::path> ObjectStore::Walk(const std::vector<std::u16string>& parts,
                                          size_t count) const {
    fs::path at = root_;
    for (size_t i = 0; i < count; ++i) {
        auto next = MatchEntry(at, parts[i]);
        if (!next) return std::nullopt;
        at = *next;
    }
    return at;
}

std::optional<fs::path> ObjectStore::Find(std::u16string_view path) const {
    auto parts = SplitHandheldPath(path);
    if (!parts) return std::nullopt;
    std::lock_guard lock(mutex_);
    return Walk(*parts, parts->size());
}

std::optional<fs::path> ObjectStore::PlaceFor(std::u16string_view path) const {
    auto parts = SplitHandheldPath(path);
    if (!parts || parts->empty()) return std::nullopt;
    std::lock_guard lock(mutex_);
    auto parent = Walk(*parts, parts->size() - 1);
    std::error_code ec;
    if (!parent || !fs::is_directory(*parent, ec)) return std::nullopt;
    if (auto existing = MatchEntry(*parent, parts->back())) return existing;
    return NewEntry(*parent, parts->back());
}

uint64_t ObjectStore::CountFolder() const {
    uint64_t used = 0;
    std::error_code ec;
    fs::recursive_directory_iterator it(root_, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
        uint64_t size = it->file_size(ec);
        if (!ec) used += size;
        ec.clear();
    }
    return used;
}

uint64_t ObjectStore::UsedBytes() {
    std::lock_guard growing(growth_);
    countStale_.store(false, std::memory_order_relaxed);
    counted_ = CountFolder();
    return counted_;
}

bool ObjectStore::HasRoomFor(uint64_t bytes) {
    if (capacity_ == kUnlimited || bytes == 0) return true;
    // A Recount that comes during the walk leaves the flag set for the next check.
    if (countStale_.exchange(false, std::memory_order_acq_rel)) counted_ = CountFolder();
    return counted_ <= capacity_ && bytes <= capacity_ - counted_;
}

void ObjectStore::Grew(uint64_t bytes) { counted_ += bytes; }

bool ObjectStore::Exists(std::u16string_view path) const { return Find(path).has_value(); }

bool ObjectStore::IsFolder(std::u16string_view path) const {
    auto host = Find(path);
    std::error_code ec;
    return host && fs::is_directory(*host, ec);
}

std::optional<std::vector<uint8_t>> ObjectStore::ReadFile(std::u16string_view path) const {
    auto host = Find(path);
    std::error_code ec;
    if (!host || !fs::is_regular_file(*host, ec)) return std::nullopt;
    std::ifstream in(*host, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

std::optional<uint64_t> ObjectStore::FileSize(std::u16string_view path) const {
    auto host = Find(path);
    std::error_code ec;
    if (!host || !fs::is_regular_file(*host, ec)) return std::nullopt;
    auto size = fs::file_size(*host, ec);
    if (ec) return std::nullopt;
    return size;
}

bool ObjectStore::WriteFile(std::u16string_view path, const std::vector<uint8_t>& bytes) {
    auto host = PlaceFor(path);
    std::error_code ec;
    if (!host || fs::is_directory(*host, ec)) return false;
    auto growing = LockGrowth();
    uint64_t before = fs::is_regular_file(*host, ec) ? fs::file_size(*host, ec) : 0;
    if (ec) before = 0;
    if (bytes.size() > before && !HasRoomFor(bytes.size() - before)) return false;
    std::ofstream out(*host, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    Recount();
    return static_cast<bool>(out);
}

bool ObjectStore::RemoveFile(std::u16string_view path) {
    auto host = Find(path);
    std::error_code ec;
    if (!host || !fs::is_regular_file(*host, ec)) return false;
    bool removed = fs::remove(*host, ec);
    Recount();
    return removed;
}

bool ObjectStore::MakeFolders(std::u16string_view path) {
    auto parts = SplitHandheldPath(path);
    if (!parts) return false;
    std::lock_guard lock(mutex_);
    fs::path at = root_;
    std::error_code ec;
    for (const auto& part : *parts) {
        if (auto next = MatchEntry(at, part)) {
            if (!fs::is_directory(*next, ec)) return false;
            at = *next;
            continue;
        }
        auto fresh = NewEntry(at, part);
        if (!fresh || !fs::create_directory(*fresh, ec)) return false;
        at = *fresh;
    }
    return true;
}

std::vector<std::u16string> ObjectStore::List(std::u16string_view folder) const {
    std::vector<std::u16string> names;
    auto host = Find(folder);
    std::error_code ec;
    if (!host || !fs::is_directory(*host, ec)) return names;
    for (const auto& entry : fs::directory_iterator(*host, ec))
        if (!entry.is_symlink(ec)) names.push_back(FromUtf8(entry.path().filename().string()));
    std::sort(names.begin(), names.end(), SortByFoldedName);
    return names;
}

std::vector<std::u16string> ObjectStore::ListAllFiles() const {
    std::vector<std::u16string> files;
    std::vector<std::u16string> folders{u""};
    while (!folders.empty()) {
        std::u16string folder = folders.back();
        folders.pop_back();
        for (const auto& name : List(folder.empty() ? u"\\" : folder)) {
            std::u16string full = folder + u"\\" + name;
            if (IsFolder(full)) folders.push_back(full);
            else files.push_back(full);
        }
    }
    std::sort(files.begin(), files.end(), SortByFoldedName);
    return files;
}

void ObjectStore::Wipe() {
    std::lock_guard lock(mutex_);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root_, ec)) fs::remove_all(entry.path(), ec);
    Recount();
}

}  // namespace tova
