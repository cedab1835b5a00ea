// Open files of the handheld's processes: the handles CreateFileW gives out, with access,
// sharing and position. Handles are opaque values that are never null or
// INVALID_HANDLE_VALUE. Thread-safe.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace tova {

class ObjectStore;

struct OpenFile {
    std::filesystem::path host;
    int fd = -1;
    uint32_t access = 0;  // GENERIC_READ | GENERIC_WRITE
    uint32_t share = 0;   // FILE_SHARE_READ | FILE_SHARE_WRITE
    uint64_t position = 0;
    std::mutex mutex;  // position and I/O of this handle
    ~OpenFile();
};

class FileTable {
public:
    // Open files the handheld may hold at once. Each is a host descriptor, so the handheld
    // runs out of handles well before the emulator runs out of descriptors for its link.
    static constexpr size_t kMaxOpenFiles = 512;

    // Win32 result: the handle, or INVALID_HANDLE_VALUE with *error set.
    void* Create(ObjectStore& store, const char16_t* path, uint32_t access, uint32_t share,
                 uint32_t disposition, uint32_t* error);
    std::shared_ptr<OpenFile> Get(void* handle) const;
    bool Close(void* handle);
    // Error code for deleting `path` (0 when it was deleted).
    uint32_t Delete(ObjectStore& store, const char16_t* path);
    // Every handle closed (a reset ends every process).
    void CloseAll();
    size_t OpenCount() const;

private:
    bool SharingAllows(const std::filesystem::path& host, uint32_t access, uint32_t share) const;

    mutable std::mutex mutex_;
    std::map<uintptr_t, std::shared_ptr<OpenFile>> open_;
    uintptr_t next_ = 0x1000;
};

}  // namespace tova
