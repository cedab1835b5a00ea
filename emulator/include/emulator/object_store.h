// The handheld's file system (the Windows CE object store), kept as a folder of host files.
// Handheld paths are UTF-16, rooted at "\", "\"-separated and case-insensitive; the first
// spelling of a name is the one kept on disk. A path that could reach outside the folder
// is refused.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tova {

// The components of a valid handheld path ("\Windows\StartUp" -> {"Windows", "StartUp"}),
// or nullopt for a path the store refuses: not rooted at "\", empty components, "." or
// "..", NULs, "/", ":" (drives, streams), control characters, wildcards, names ending in a
// dot or a blank, or over MAX_PATH.
std::optional<std::vector<std::u16string>> SplitHandheldPath(std::u16string_view path);

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);
// ASCII and Latin case folding, enough for the handheld's case-insensitive names.
std::u16string FoldCase(std::u16string_view text);
bool SameName(std::u16string_view a, std::u16string_view b);

class ObjectStore {
public:
    // Without a capacity the store takes what the host folder takes.
    static constexpr uint64_t kUnlimited = UINT64_MAX;

    explicit ObjectStore(std::filesystem::path root, uint64_t capacity = kUnlimited);

    const std::filesystem::path& Root() const { return root_; }

    // The store lives in the handheld's RAM: its files together never hold more than its
    // capacity. Whatever makes a file larger asks first, one growth at a time.
    //
    // Counting the folder costs a walk of every file, too much for each chunk a copy
    // writes, so the store keeps the count and advances it by each growth it allows. Only
    // the handheld changes its RAM; the count is taken from the folder again after anything
    // else may have changed sizes (a file opened, replaced or deleted, a size set) and
    // whenever UsedBytes counts it.
    uint64_t Capacity() const { return capacity_; }
    // The bytes of every file below the root, counted now.
    uint64_t UsedBytes();
    // Held while a file grows: checking room and growing are one step for every writer.
    std::unique_lock<std::mutex> LockGrowth() { return std::unique_lock(growth_); }
    // Whether files may grow by `bytes` more; call with LockGrowth held.
    bool HasRoomFor(uint64_t bytes);
    // A file grew by `bytes` after HasRoomFor allowed it; call with LockGrowth held.
    void Grew(uint64_t bytes);
    // Sizes may have changed other than by a growth the store allowed: the next check
    // counts the folder. Any thread, any lock.
    void Recount() { countStale_.store(true, std::memory_order_release); }

    // The host file for an existing handheld path, nullopt if it does not exist or the
    // path is refused.
    std::optional<std::filesystem::path> Find(std::u16string_view path) const;
    // The host file for a handheld path whose parent folder exists: the existing file if
    // there is one (whatever its case), else a new name in the parent's host folder.
    // nullopt if refused or the parent folder does not exist.
    std::optional<std::filesystem::path> PlaceFor(std::u16string_view path) const;

    bool Exists(std::u16string_view path) const;
    bool IsFolder(std::u16string_view path) const;
    std::optional<std::vector<uint8_t>> ReadFile(std::u16string_view path) const;
    // A file's size from its metadata, without reading it; nullopt for anything but a file.
    std::optional<uint64_t> FileSize(std::u16string_view path) const;
    // Creates or replaces a file; the parent folder must exist and the store must have room
    // for it (nothing is written otherwise).
    bool WriteFile(std::u16string_view path, const std::vector<uint8_t>& bytes);
    bool RemoveFile(std::u16string_view path);
    // Creates the folder and any missing parents.
    bool MakeFolders(std::u16string_view path);
    // Names in a folder (files and folders), sorted case-insensitively.
    std::vector<std::u16string> List(std::u16string_view folder) const;
    // Every file below the root as a full handheld path, sorted.
    std::vector<std::u16string> ListAllFiles() const;
    // Removes everything in the store.
    void Wipe();

private:
    std::optional<std::filesystem::path> Walk(const std::vector<std::u16string>& parts,
                                              size_t count) const;
    uint64_t CountFolder() const;

    std::filesystem::path root_;
    uint64_t capacity_;
    mutable std::mutex mutex_;
    std::mutex growth_;
    uint64_t counted_ = 0;                   // guarded by growth_
    std::atomic<bool> countStale_{true};     // counted_ must be taken from the folder
};

}  // namespace tova
