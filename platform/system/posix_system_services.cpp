#include "platform/system/system_services.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace tova::sys {

char PathSeparator() { return '/'; }
bool IsPathSeparator(char c) { return c == '/'; }

size_t ReadOwnExecutablePath(char* buffer, size_t capacity) {
    if (capacity == 0) return 0;
    ssize_t n = ::readlink("/proc/self/exe", buffer, capacity - 1);
    if (n <= 0) return 0;
    buffer[n] = '\0';
    return size_t(n);
}

bool FindFirstMatch(const std::string& folder, const char* pattern, std::string& path) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return false;
    bool found = false;
    while (dirent* entry = ::readdir(dir)) {
        if (::fnmatch(pattern, entry->d_name, FNM_CASEFOLD) != 0) continue;
        std::string candidate = folder + entry->d_name;
        // lstat would pass over a link to a package; stat looks at what it names.
        struct stat st;
        if (::stat(candidate.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        path = candidate;
        found = true;
        break;
    }
    ::closedir(dir);
    return found;
}

bool ReadOnlyFile::Open(const char* path) {
    Close();
    // Without O_NONBLOCK a FIFO would hold the open until a writer came.
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    handle_ = fd;
    size_ = uint64_t(st.st_size);
    return true;
}

void ReadOnlyFile::Close() {
    if (handle_ != kClosed) ::close(int(handle_));
    handle_ = kClosed;
    size_ = 0;
}

bool ReadOnlyFile::Seek(uint64_t offset) {
    if (handle_ == kClosed) return false;
    return ::lseek(int(handle_), off_t(offset), SEEK_SET) == off_t(offset);
}

int64_t ReadOnlyFile::Read(void* buffer, size_t want) {
    if (handle_ == kClosed) return -1;
    ssize_t got;
    do {
        got = ::read(int(handle_), buffer, want);
    } while (got < 0 && errno == EINTR);
    return got;
}

void* LoadLibraryByName(const char* name) { return ::dlopen(name, RTLD_NOW | RTLD_LOCAL); }

void* LibraryFunction(void* library, const char* name) {
    return library ? ::dlsym(library, name) : nullptr;
}

void DebugOutput(const char* line) { std::fprintf(stderr, "%s\n", line); }

}  // namespace tova::sys
