#include "desktop/transfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <string>

#include "desktop/link.h"
#include "desktop/program_folder.h"
#include "desktop/rapi_calls.h"
#include "desktop/rom_package.h"
#include "desktop/update_messages.h"
#include "platform/clock.h"
#include "shared/segment_table.h"

namespace {

constexpr DWORD kCreateAccess = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kStartupFolderChars = 1024;

HANDLE CreateNewHandheldFile(LPCWSTR path) {
    return RapiCreateFile(path, kCreateAccess, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
}

std::unique_ptr<uint8_t[]> AllocateCopyBuffer() {
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[kCopyBufferBytes]);
}

// One read of up to `want` bytes; interrupted reads are retried. -1 on error.
ssize_t ReadChunk(int file, uint8_t* buffer, size_t want) {
    ssize_t got;
    do {
        got = ::read(file, buffer, want);
    } while (got < 0 && errno == EINTR);
    return got;
}

// The start-up folder as the handheld names it; false when the query fails, so that no
// path is ever built from an unfilled buffer.
bool QueryStartupFolder(std::u16string& folder, DWORD& result) {
    WCHAR buffer[kStartupFolderChars] = {};
    result = RapiGetSpecialFolderPath(CSIDL_STARTUP, kStartupFolderChars, buffer);
    if (result == 0 || result >= kStartupFolderChars) return false;
    folder.assign(buffer, result);
    return true;
}

// Closes what a copy opened, on every path out of it.
struct OpenFiles {
    int desktop = -1;
    HANDLE handheld = INVALID_HANDLE_VALUE;
    ~OpenFiles() {
        if (handheld != INVALID_HANDLE_VALUE) RapiCloseHandle(handheld);
        if (desktop >= 0) ::close(desktop);
    }
};

}  // namespace

int CopyFileToDevice(const char* desktopPath, LPCWSTR handheldPath) {
    OpenFiles files;
    files.desktop = ::open(desktopPath, O_RDONLY | O_CLOEXEC);
    if (files.desktop < 0) return -1;
    // A folder opens on this platform but is no file to copy; refuse it before the
    // handheld's copy is touched.
    struct stat st;
    if (::fstat(files.desktop, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    RapiDeleteFile(handheldPath);
    files.handheld = CreateNewHandheldFile(handheldPath);
    if (files.handheld == INVALID_HANDLE_VALUE) return -1;

    uint64_t size = uint64_t(st.st_size);
    if (size == 0) return -1;

    std::unique_ptr<uint8_t[]> buffer = AllocateCopyBuffer();
    if (!buffer) return -1;
    uint64_t sent = 0;
    bool ok = true;
    while (ok && sent < size) {
        size_t want = size_t(std::min<uint64_t>(size - sent, kCopyChunkBytes));
        ssize_t got = ReadChunk(files.desktop, buffer.get(), want);
        // A file that shrank under the copy yields nothing: stop rather than read for ever.
        if (got <= 0) {
            ok = false;
            break;
        }
        DWORD written = 0;
        ok = RapiWriteFile(files.handheld, buffer.get(), DWORD(got), &written, nullptr) != 0;
        sent += uint64_t(got);
    }
    buffer.reset();
    if (ok) RapiSetEndOfFile(files.handheld);
    return ok ? 0 : -1;
}

int CopySegmentToDevice(int packageFile, ui::MessageTarget& window, DWORD byteCount,
                        LPCWSTR handheldPath) {
    if (byteCount == 0) return -1;
    OpenFiles files;
    files.handheld = CreateNewHandheldFile(handheldPath);
    if (files.handheld == INVALID_HANDLE_VALUE) return -1;
    std::unique_ptr<uint8_t[]> buffer = AllocateCopyBuffer();
    if (!buffer) return -1;

    DWORD copied = 0;
    bool ok = true;
    while (copied < byteCount) {
        DWORD want = std::min<DWORD>(byteCount - copied, kCopyChunkBytes);
        ssize_t got = ReadChunk(packageFile, buffer.get(), want);
        // A package that ends before the segment does yields nothing: a failure, not a
        // reason to read again.
        if (got <= 0 || !LinkIsUp()) {
            ok = false;
            break;
        }
        DWORD written = 0;
        if (!RapiWriteFile(files.handheld, buffer.get(), DWORD(got), &written, nullptr)) {
            ok = false;
            break;
        }
        window.PostMessage(WM_UPD_FILE_PROGRESS, 0,
                           ui::LPARAM(uint64_t(copied) * 100 / byteCount));
        tova::ScaledSleep(kPauseAfterChunkMs);
        copied += DWORD(got);
    }
    buffer.reset();
    if (ok) RapiSetEndOfFile(files.handheld);
    RapiCloseHandle(files.handheld);
    files.handheld = INVALID_HANDLE_VALUE;
    if (!LinkIsUp()) return -1;
    return ok ? 0 : -1;
}

int CopyServiceLibrary() {
    std::string folder;
    if (!ProgramFolder(folder)) return -1;
    return CopyFileToDevice((folder + kServiceLibraryFileName).c_str(), kHandheldServiceLibrary);
}

DWORD DeleteStartupShortcut(LPCWSTR name) {
    std::u16string folder;
    DWORD result = 0;
    if (!QueryStartupFolder(folder, result)) return result;
    RapiDeleteFile((folder + name).c_str());
    return result;
}

int CopyFlasher() {
    std::string programFolder;
    if (!ProgramFolder(programFolder)) return -1;
    std::string source = programFolder + kFlasherFileName;
    std::u16string startup;
    DWORD result = 0;
    if (!QueryStartupFolder(startup, result)) return -1;
    return CopyFileToDevice(source.c_str(), (startup + u"\\" + kFlasherHandheldName).c_str());
}

int CopySegments(ui::MessageTarget& window) {
    std::string path;
    if (!LocateRomPackage(path)) return 0;
    int package = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (package < 0) return 0;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{package};
    if (::lseek(package, kPackageSegmentsOffset, SEEK_SET) != off_t(kPackageSegmentsOffset)) return 0;

    for (uint32_t row = 0; row < kSegmentCount; ++row) {
        const SegmentEntry& segment = kSegmentTable[row];
        if (!LinkIsUp()) return 0;
        if (CopySegmentToDevice(package, window, segment.size, segment.devicePath) != 0) return 0;
        window.PostMessage(WM_UPD_OVERALL_PROGRESS, 0, ui::LPARAM(segment.overallPercent));
        if (row + 1 < kSegmentCount - 1)
            tova::ScaledSleep(kPauseAfterSegmentMs);
        else if (row + 1 == kSegmentCount - 1)
            tova::ScaledSleep(kPauseAfterMisc3Ms);
    }
    return 1;
}
