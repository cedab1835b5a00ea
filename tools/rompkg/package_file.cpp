// rompkg inspect on a file: only a regular file is read, through a descriptor opened so
// that nothing at the path (a FIFO without a writer, a device) can make it wait.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <string>

#include "rompkg.h"

namespace rompkg {
namespace {

const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

class FileSource : public PackageSource {
public:
    FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
    ~FileSource() override { ::close(fd_); }
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, uint8_t* buffer, size_t length) override {
        while (length > 0) {
            ssize_t n = ::pread(fd_, buffer, length, off_t(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;  // an error, or the file shrank under us
            buffer += n;
            offset += uint64_t(n);
            length -= size_t(n);
        }
        return true;
    }

private:
    int fd_;
    uint64_t size_;
};

int Refuse(std::ostream& err, const std::string& text) {
    err << "rompkg: " << text << "\n";
    return kExitBadPackage;
}

int CannotOpen(std::ostream& err, const std::string& path) {
    return Refuse(err, "cannot open " + path + ": " + std::strerror(errno));
}

int NotAFile(std::ostream& err, const std::string& path, mode_t mode) {
    return Refuse(err, path + " is " + KindOf(mode) + ", not a package file");
}

}  // namespace

int InspectFile(const std::string& path, std::ostream& out, std::ostream& err) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return CannotOpen(err, path);
    if (!S_ISREG(st.st_mode)) return NotAFile(err, path, st.st_mode);
    // Non-blocking, and checked again once open: the path may have changed in between.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return CannotOpen(err, path);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return NotAFile(err, path, st.st_mode);
    }
    FileSource source(fd, uint64_t(st.st_size));
    return Inspect(path, source, out, err);
}

}  // namespace rompkg
