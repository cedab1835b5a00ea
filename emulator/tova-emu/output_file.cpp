#include "output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "arguments.h"

namespace tova::emu {

namespace {

// A name in the target's folder that nothing else uses: the rename then stays in one file
// system and replaces the target in one step.
std::filesystem::path TemporaryBeside(const std::filesystem::path& path) {
    static std::atomic<unsigned> serial{0};
    std::string name = "." + path.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
                       std::to_string(serial++);
    return path.parent_path() / name;
}

bool WriteAll(int fd, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

void WriteOutputFile(const std::filesystem::path& path, std::string_view bytes) {
    const std::filesystem::path target = std::filesystem::absolute(path);
    if (target.filename().empty()) throw CommandError("cannot write " + path.string() + ": it names no file");
    const std::filesystem::path temporary = TemporaryBeside(target);
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) throw CommandError("cannot write " + path.string() + ": " + std::strerror(errno));
    bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && ::rename(temporary.c_str(), target.c_str()) != 0) {
        written = false;
        error = errno;
    }
    if (!written) {
        ::unlink(temporary.c_str());
        throw CommandError("cannot write " + path.string() + ": " + std::strerror(error));
    }
}

}  // namespace tova::emu
