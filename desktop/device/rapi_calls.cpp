#include "desktop/device/rapi_calls.h"

#include "desktop/device/link.h"

namespace {

// Held for exactly one remote call; nothing is called while it is held but that call.
class RapiSection {
public:
    RapiSection() { win32::EnterCriticalSection(&g_csRapi); }
    ~RapiSection() { win32::LeaveCriticalSection(&g_csRapi); }
    RapiSection(const RapiSection&) = delete;
    RapiSection& operator=(const RapiSection&) = delete;
};

}  // namespace

HANDLE RapiCreateFile(LPCWSTR path, DWORD desiredAccess, DWORD shareMode,
                      LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                      DWORD flagsAndAttributes, HANDLE templateFile) {
    RapiSection section;
    return CeCreateFile(path, desiredAccess, shareMode, securityAttributes, creationDisposition,
                        flagsAndAttributes, templateFile);
}

BOOL RapiWriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                   LPOVERLAPPED overlapped) {
    RapiSection section;
    return CeWriteFile(file, buffer, bytesToWrite, bytesWritten, overlapped);
}

BOOL RapiSetEndOfFile(HANDLE file) {
    RapiSection section;
    return CeSetEndOfFile(file);
}

BOOL RapiCloseHandle(HANDLE object) {
    RapiSection section;
    return CeCloseHandle(object);
}

BOOL RapiDeleteFile(LPCWSTR path) {
    RapiSection section;
    return CeDeleteFile(path);
}

DWORD RapiGetSpecialFolderPath(int folder, DWORD bufferLength, LPWSTR buffer) {
    RapiSection section;
    return CeGetSpecialFolderPath(folder, bufferLength, buffer);
}

BOOL RapiGetVersionEx(LPCEOSVERSIONINFO versionInformation) {
    RapiSection section;
    return CeGetVersionEx(versionInformation);
}
