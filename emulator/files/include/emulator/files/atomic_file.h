// Replacing a file of the state folder so that a crash or a kill at any moment leaves either
// the old file or the new one, whole: the new content goes to a temporary file beside it,
// onto the storage, then over the old name, and the folder's entry onto the storage too.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace tova::files {

// The message names the file and what went wrong.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Bytes at an offset of the new file; the gaps between pieces read as zeros and take no
// space on storages that keep sparse files.
struct FilePiece {
    uint64_t offset;
    std::span<const uint8_t> bytes;
};

// The temporary file beside `path` that a replacement writes first.
std::filesystem::path TemporaryFileFor(const std::filesystem::path& path);

// Makes `path` a file of `size` bytes holding `pieces`. Throws FileError; the old file is
// then left as it was and no temporary file is left behind.
void ReplaceFile(const std::filesystem::path& path, std::span<const FilePiece> pieces, uint64_t size);
void ReplaceFile(const std::filesystem::path& path, std::string_view text);

// Puts a folder's entries (a rename, a new or removed file) onto the storage.
void SyncFolder(const std::filesystem::path& folder);

}  // namespace tova::files
