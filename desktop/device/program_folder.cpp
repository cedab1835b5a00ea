#include "desktop/device/program_folder.h"

#include <atomic>
#include <new>
#include <vector>

#include "platform/system/system_services.h"

namespace {

constexpr size_t kPathBufferStep = 1024;
// No real path comes near this; it keeps a reader that always fills the buffer from
// growing it without end.
constexpr size_t kPathBufferLimit = 64 * 1024;

std::atomic<ProgramPathReader> g_programPathReader{nullptr};

}  // namespace

void SetProgramPathReader(ProgramPathReader reader) { g_programPathReader.store(reader); }

bool ProgramFolder(std::string& folder) {
    ProgramPathReader reader = g_programPathReader.load();
    if (reader == nullptr) reader = tova::sys::ReadOwnExecutablePath;
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
        size_t end = path.size();
        while (end > 0 && !tova::sys::IsPathSeparator(path[end - 1])) --end;
        folder = path.substr(0, end);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
