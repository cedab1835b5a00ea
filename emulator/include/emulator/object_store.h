// The handheld's file system (the Windows CE object store), kept as a folder of host files.
// Handheld paths are UTF-16, rooted at "\", "\"-separated and case-insensitive; the first
// spelling of a name is the one kept on disk. A path that could reach outside the folder
// is refused.
#pragma once

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
    explicit ObjectStore(std::filesystem::path root);

    const std::filesystem::path& Root() const { return root_; }

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
    // Creates or replaces a file; the parent folder must exist.
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
    std::filesystem::path root_;
    mutable std::mutex mutex_;
};

}  // namespace tova
