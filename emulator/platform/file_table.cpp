#include "file_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "emulator/object_store.h"
#include "platform/wince/types.h"

namespace tova {

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kErrorSharingViolation = 32;

bool ShareCovers(uint32_t share, uint32_t access) {
    if ((access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return false;
    if ((access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return false;
    return true;
}

}  // namespace

OpenFile::~OpenFile() {
    if (fd >= 0) ::close(fd);
}

bool FileTable::SharingAllows(const fs::path& host, uint32_t access, uint32_t share) const {
    for (const auto& [handle, file] : open_) {
        if (file->host != host) continue;
        if (!ShareCovers(file->share, access) || !ShareCovers(share, file->access)) return false;
    }
    return true;
}

void* FileTable::Create(ObjectStore& store, const char16_t* path, uint32_t access,
                        uint32_t share, uint32_t disposition, uint32_t* error) {
    *error = ERROR_SUCCESS;
    if (path == nullptr) {
        *error = ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    std::u16string_view name(path);
    auto parts = SplitHandheldPath(name);
    if (!parts) {
        *error = ERROR_INVALID_NAME;
        return INVALID_HANDLE_VALUE;
    }
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
        (access & ~(GENERIC_READ | GENERIC_WRITE)) != 0 ||
        (disposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE))) {
        *error = ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    if (parts->empty() || store.IsFolder(name)) {
        *error = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    auto host = store.PlaceFor(name);
    if (!host) {
        *error = ERROR_PATH_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    std::lock_guard lock(mutex_);
    if (open_.size() >= kMaxOpenFiles) {
        *error = ERROR_TOO_MANY_OPEN_FILES;
        return INVALID_HANDLE_VALUE;
    }
    std::error_code ec;
    bool exists = fs::is_regular_file(*host, ec);
    if (!exists && (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)) {
        *error = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    if (exists && disposition == CREATE_NEW) {
        *error = ERROR_FILE_EXISTS;
        return INVALID_HANDLE_VALUE;
    }
    if (!SharingAllows(*host, access, share)) {
        *error = kErrorSharingViolation;
        return INVALID_HANDLE_VALUE;
    }
    int flags = O_CLOEXEC | O_NOFOLLOW;
    flags |= (access & GENERIC_WRITE) ? O_RDWR : O_RDONLY;
    if (!exists) flags |= O_CREAT | O_EXCL;
    if (exists && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING)) {
        flags |= O_TRUNC;
        if (!(access & GENERIC_WRITE)) flags = (flags & ~O_RDONLY) | O_RDWR;
    }
    int fd = ::open(host->c_str(), flags, 0644);
    store.Recount();  // a truncation, or the host's own changes before the handheld looks
    if (fd < 0) {
        *error = (errno == EMFILE || errno == ENFILE) ? ERROR_TOO_MANY_OPEN_FILES : ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    auto file = std::make_shared<OpenFile>();
    file->host = *host;
    file->fd = fd;
    file->access = access;
    file->share = share;
    uintptr_t handle = next_;
    next_ += 4;
    open_[handle] = file;
    if (exists && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS))
        *error = ERROR_ALREADY_EXISTS;  // success, but the caller may ask
    return reinterpret_cast<void*>(handle);
}

std::shared_ptr<OpenFile> FileTable::Get(void* handle) const {
    std::lock_guard lock(mutex_);
    auto it = open_.find(reinterpret_cast<uintptr_t>(handle));
    return it == open_.end() ? nullptr : it->second;
}

bool FileTable::Close(void* handle) {
    std::lock_guard lock(mutex_);
    return open_.erase(reinterpret_cast<uintptr_t>(handle)) == 1;
}

uint32_t FileTable::Delete(ObjectStore& store, const char16_t* path) {
    if (path == nullptr) return ERROR_INVALID_PARAMETER;
    std::u16string_view name(path);
    auto parts = SplitHandheldPath(name);
    if (!parts) return ERROR_INVALID_NAME;
    if (parts->empty() || store.IsFolder(name)) return ERROR_ACCESS_DENIED;
    auto host = store.Find(name);
    if (!host) {
        auto place = store.PlaceFor(name);
        return place ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    }
    std::lock_guard lock(mutex_);
    for (const auto& [handle, file] : open_)
        if (file->host == *host) return kErrorSharingViolation;
    std::error_code ec;
    bool removed = fs::remove(*host, ec);
    store.Recount();
    return removed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

void FileTable::CloseAll() {
    std::lock_guard lock(mutex_);
    open_.clear();
}

size_t FileTable::OpenCount() const {
    std::lock_guard lock(mutex_);
    return open_.size();
}

}  // namespace tova
