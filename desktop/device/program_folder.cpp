#include "desktop/program_folder.h"

#include <unistd.h>

#include <atomic>
#include <new>
#include <vector>

namespace {

constexpr size_t kPathBufferStep = 1024;
// No real path comes near this; it keeps a reader that always fills the buffer from
// growing it without end.
constexpr size_t kPathBufferLimit = 64 * 1024;

std::atomic<ProgramPathReader> g_programPathReader{nullptr};

}  // namespace

size_t ReadOwnExecutablePath(char* buffer, size_t capacity) {
    if (capacity == 0) return 0;
    ssize_t n = ::readlink("/proc/self/exe", buffer, capacity - 1);
    if (n <= 0) return 0;
    buffer[n] = '\0';
    return size_t(n);
}

void SetProgramPathReader(ProgramPathReader reader) { g_programPathReader.store(reader); }

bool ProgramFolder(std::string& folder) {
    ProgramPathReader reader = g_programPathReader.load();
    if (reader == nullptr) reader = ReadOwnExecutablePath;
    try {
        std::vector<char> buffer(kPathBufferStep);
        size_t length = reader(buffer.data(), buffer.size());
        while (length != 0 && length + 1 >= buffer.size()) {
            if (buffer.size() + kPathBufferStep > kPathBufferLimit) return false;
            buffer.assign(buffer.size() + kPathBufferStep, '\0');
            length = reader(buffer.data(), buffer.size());
        }
        if (length == 0) return false;
        std::string path(buffer.data(), length);
        size_t slash = path.find_last_of('/');
        folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
