#include "desktop/device/transfer.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>

#include "desktop/device/link.h"
#include "desktop/device/program_folder.h"
#include "desktop/device/rapi_calls.h"
#include "desktop/device/rom_package.h"
#include "desktop/device/update_messages.h"
#include "platform/clock/clock.h"
#include "platform/system/system_services.h"
#include "shared/segment_table.h"

namespace {

constexpr DWORD kCreateAccess = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kStartupFolderChars = 1024;

HANDLE CreateNewHandheldFile(LPCWSTR path) {
    return RapiCreateFile(path, kCreateAccess, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
}

// A pause of the copy's rhythm. At clock scale 0 it is no pause at all: yielding the
// processor after every chunk would hand it to whatever else runs on a busy machine.
void Pause(uint64_t ms) {
    if (tova::ScaledMs(ms).count() > 0) tova::ScaledSleep(ms);
}

std::unique_ptr<uint8_t[]> AllocateCopyBuffer() {
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[kCopyBufferBytes]);
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
    tova::sys::ReadOnlyFile desktop;
    HANDLE handheld = INVALID_HANDLE_VALUE;
    ~OpenFiles() {
        if (handheld != INVALID_HANDLE_VALUE) RapiCloseHandle(handheld);
    }
};

}  // namespace

int CopyFileToDevice(const char* desktopPath, LPCWSTR handheldPath) {
    OpenFiles files;
    // Only a regular file opens: a folder or a FIFO is refused before the handheld's copy
    // is touched.
    if (!files.desktop.Open(desktopPath)) return -1;
    RapiDeleteFile(handheldPath);
    files.handheld = CreateNewHandheldFile(handheldPath);
    if (files.handheld == INVALID_HANDLE_VALUE) return -1;

    uint64_t size = files.desktop.Size();
    if (size == 0) return -1;

    std::unique_ptr<uint8_t[]> buffer = AllocateCopyBuffer();
    if (!buffer) return -1;
    uint64_t sent = 0;
    bool ok = true;
    while (ok && sent < size) {
        size_t want = size_t(std::min<uint64_t>(size - sent, kCopyChunkBytes));
        int64_t got = files.desktop.Read(buffer.get(), want);
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

int CopySegmentToDevice(tova::sys::ReadOnlyFile& packageFile, ui::MessageTarget& window, DWORD byteCount,
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
        int64_t got = packageFile.Read(buffer.get(), want);
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
        Pause(kPauseAfterChunkMs);
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
    tova::sys::ReadOnlyFile package;
    if (!package.Open(path.c_str()) || !package.Seek(kPackageSegmentsOffset)) return 0;

    for (uint32_t row = 0; row < kSegmentCount; ++row) {
        const SegmentEntry& segment = kSegmentTable[row];
        if (!LinkIsUp()) return 0;
        if (CopySegmentToDevice(package, window, segment.size, segment.devicePath) != 0) return 0;
        window.PostMessage(WM_UPD_OVERALL_PROGRESS, 0, ui::LPARAM(segment.overallPercent));
        if (row + 1 < kSegmentCount - 1)
            Pause(kPauseAfterSegmentMs);
        else if (row + 1 == kSegmentCount - 1)
            Pause(kPauseAfterMisc3Ms);
    }
    return 1;
}
