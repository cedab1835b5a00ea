#include "emulator/files/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

namespace tova::files {
namespace {

[[noreturn]] void Fail(const std::string& what, const std::filesystem::path& path, int error) {
    throw FileError(what + " " + path.string() + ": " + std::strerror(error));
}

// Closes the temporary file and removes it unless the replacement went through.
class Temporary {
public:
    explicit Temporary(std::filesystem::path path) : path_(std::move(path)) {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0) Fail("cannot create", path_, errno);
    }
    ~Temporary() {
        if (fd_ >= 0) ::close(fd_);
        if (!kept_) {
            std::error_code ignored;
            std::filesystem::remove(path_, ignored);
        }
    }
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;

    void WriteAt(uint64_t offset, std::span<const uint8_t> bytes) {
        for (size_t done = 0; done < bytes.size();) {
            ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, off_t(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) Fail("cannot write", path_, n < 0 ? errno : ENOSPC);
            done += size_t(n);
        }
    }
    void Finish(uint64_t size) {
        if (::ftruncate(fd_, off_t(size)) != 0) Fail("cannot write", path_, errno);
        if (::fdatasync(fd_) != 0) Fail("cannot write", path_, errno);
        int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) Fail("cannot write", path_, errno);
    }
    void Keep() { kept_ = true; }

private:
    std::filesystem::path path_;
    int fd_ = -1;
    bool kept_ = false;
};

}  // namespace

std::filesystem::path TemporaryFileFor(const std::filesystem::path& path) {
    std::filesystem::path temporary = path;
    temporary += ".tmp";
    return temporary;
}

void ReplaceFile(const std::filesystem::path& path, std::span<const FilePiece> pieces, uint64_t size) {
    Temporary temporary(TemporaryFileFor(path));
    for (const FilePiece& piece : pieces) temporary.WriteAt(piece.offset, piece.bytes);
    temporary.Finish(size);
    if (::rename(TemporaryFileFor(path).c_str(), path.c_str()) != 0) Fail("cannot replace", path, errno);
    temporary.Keep();
    SyncFolder(path.parent_path().empty() ? "." : path.parent_path());
}

void ReplaceFile(const std::filesystem::path& path, std::string_view text) {
    FilePiece piece{0, {reinterpret_cast<const uint8_t*>(text.data()), text.size()}};
    ReplaceFile(path, {&piece, 1}, text.size());
}

void SyncFolder(const std::filesystem::path& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) Fail("cannot open the folder", folder, errno);
    int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    // Some file systems cannot sync a folder; the rename is then as durable as they make it.
    if (error != 0 && error != EINVAL && error != EROFS) Fail("cannot sync the folder", folder, error);
}

}  // namespace tova::files
