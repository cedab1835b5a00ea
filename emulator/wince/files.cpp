// Files on the object store: CreateFileW, GetFileSize, ReadFile, WriteFile, SetEndOfFile,
// CloseHandle, DeleteFileW.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform_call.h"
#include "platform/wince/api.h"

using tova::OpenFile;
using tova::PlatformCall;
using tova::SetThreadError;

namespace {

// Files on the handheld are at most 4 GiB - 2: GetFileSize must be able to answer.
constexpr uint64_t kLargestFile = 0xFFFFFFFEu;

// Whether the open file may grow to `end` bytes: the object store has a capacity. Call with
// the store's growth lock held. `growth` is what the file grows by (0 when it does not).
bool RoomToGrow(PlatformCall& call, const OpenFile& file, uint64_t end, uint64_t* growth) {
    struct stat info {};
    if (::fstat(file.fd, &info) != 0) return false;
    uint64_t size = static_cast<uint64_t>(info.st_size);
    *growth = end > size ? end - size : 0;
    return *growth == 0 || call->Store().HasRoomFor(*growth);
}

std::shared_ptr<OpenFile> FileOf(PlatformCall& call, HANDLE handle) {
    auto file = call ? call->Files().Get(handle) : nullptr;
    if (!file) SetThreadError(ERROR_INVALID_HANDLE);
    return file;
}

}  // namespace

extern "C" {

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD, HANDLE) {
    PlatformCall call;
    if (!call) {
        SetThreadError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    uint32_t error = 0;
    HANDLE handle = call->Files().Create(call->Store(), lpFileName, dwDesiredAccess, dwShareMode,
                                         dwCreationDisposition, &error);
    SetThreadError(error);
    return handle;
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    PlatformCall call;
    auto file = FileOf(call, hFile);
    if (!file) return INVALID_FILE_SIZE;
    struct stat info {};
    if (::fstat(file->fd, &info) != 0) {
        SetThreadError(ERROR_ACCESS_DENIED);
        return INVALID_FILE_SIZE;
    }
    uint64_t size = static_cast<uint64_t>(info.st_size);
    if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    SetThreadError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    PlatformCall call;
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    auto file = FileOf(call, hFile);
    if (!file) return FALSE;
    if (!(file->access & GENERIC_READ)) {
        SetThreadError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if ((lpBuffer == nullptr && nNumberOfBytesToRead != 0) || lpOverlapped != nullptr) {
        SetThreadError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard lock(file->mutex);
    auto* out = static_cast<uint8_t*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToRead) {
        ssize_t n = ::pread(file->fd, out + done, nNumberOfBytesToRead - done,
                            static_cast<off_t>(file->position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            SetThreadError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (n == 0) break;  // end of file
        done += static_cast<DWORD>(n);
    }
    file->position += done;
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = done;
    SetThreadError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    PlatformCall call;
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    auto file = FileOf(call, hFile);
    if (!file) return FALSE;
    if (!(file->access & GENERIC_WRITE)) {
        SetThreadError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if ((lpBuffer == nullptr && nNumberOfBytesToWrite != 0) || lpOverlapped != nullptr) {
        SetThreadError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard lock(file->mutex);
    if (file->position + nNumberOfBytesToWrite > kLargestFile) {
        SetThreadError(ERROR_NOT_ENOUGH_MEMORY);  // the store is full
        return FALSE;
    }
    // Nothing of a write that does not fit is written.
    auto growing = call->Store().LockGrowth();
    uint64_t growth = 0;
    if (!RoomToGrow(call, *file, file->position + nNumberOfBytesToWrite, &growth)) {
        SetThreadError(ERROR_DISK_FULL);
        return FALSE;
    }
    const auto* in = static_cast<const uint8_t*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToWrite) {
        ssize_t n = ::pwrite(file->fd, in + done, nNumberOfBytesToWrite - done,
                             static_cast<off_t>(file->position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            call->Store().Recount();  // it grew by some part of `growth`
            file->position += done;
            if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
            SetThreadError(ERROR_NOT_ENOUGH_MEMORY);
            return FALSE;
        }
        done += static_cast<DWORD>(n);
    }
    call->Store().Grew(growth);
    file->position += done;
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
    SetThreadError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetEndOfFile(HANDLE hFile) {
    PlatformCall call;
    auto file = FileOf(call, hFile);
    if (!file) return FALSE;
    if (!(file->access & GENERIC_WRITE)) {
        SetThreadError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    std::lock_guard lock(file->mutex);
    auto growing = call->Store().LockGrowth();
    uint64_t growth = 0;
    if (!RoomToGrow(call, *file, file->position, &growth)) {
        SetThreadError(ERROR_DISK_FULL);
        return FALSE;
    }
    int cut = ::ftruncate(file->fd, static_cast<off_t>(file->position));
    call->Store().Recount();  // a file made shorter gives its room back
    if (cut != 0) {
        SetThreadError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    SetThreadError(ERROR_SUCCESS);
    return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
    PlatformCall call;
    if (!call || !call->Files().Close(hObject)) {
        SetThreadError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    SetThreadError(ERROR_SUCCESS);
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR lpFileName) {
    PlatformCall call;
    if (!call) {
        SetThreadError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    uint32_t error = call->Files().Delete(call->Store(), lpFileName);
    SetThreadError(error);
    return error == ERROR_SUCCESS ? TRUE : FALSE;
}

}  // extern "C"
