// A stand-in for the desktop's remote API library (rapi.dll, which comes with the sync
// software): the functions setup.exe binds by name, forwarding to the tova-emu link.
// Placed beside setup.exe, it is what setup.exe finds first. The handheld's endpoint comes
// from TOVA_STANDIN_RAPI, since TOVA_RAPI would make setup.exe skip the library.
#include <cstdlib>

#include "link_api.h"

namespace {

void UseStandInEndpoint() {
    const char* endpoint = std::getenv("TOVA_STANDIN_RAPI");
    if (endpoint != nullptr) rapi::SetEndpoint(endpoint);
}

}  // namespace

#define EXPORT extern "C" __declspec(dllexport)

EXPORT HRESULT CeRapiInit(void) {
    UseStandInEndpoint();
    return rapi::link::CeRapiInit();
}
EXPORT HRESULT CeRapiUninit(void) { return rapi::link::CeRapiUninit(); }
EXPORT DWORD CeGetLastError(void) { return rapi::link::CeGetLastError(); }
EXPORT HRESULT CeRapiGetError(void) { return rapi::link::CeRapiGetError(); }
EXPORT BOOL CeGetVersionEx(LPCEOSVERSIONINFO info) { return rapi::link::CeGetVersionEx(info); }
EXPORT HANDLE CeCreateFile(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                           DWORD disposition, DWORD flags, HANDLE templateFile) {
    return rapi::link::CeCreateFile(name, access, share, security, disposition, flags, templateFile);
}
EXPORT BOOL CeWriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
    return rapi::link::CeWriteFile(file, buffer, count, written, overlapped);
}
EXPORT BOOL CeSetEndOfFile(HANDLE file) { return rapi::link::CeSetEndOfFile(file); }
EXPORT BOOL CeCloseHandle(HANDLE object) { return rapi::link::CeCloseHandle(object); }
EXPORT BOOL CeDeleteFile(LPCWSTR name) { return rapi::link::CeDeleteFile(name); }
EXPORT DWORD CeGetSpecialFolderPath(int folder, DWORD length, LPWSTR buffer) {
    return rapi::link::CeGetSpecialFolderPath(folder, length, buffer);
}
// The input block comes from setup.exe's LocalAlloc and the output goes back from this
// library's: both are the process's one local heap, as with the real library.
EXPORT HRESULT CeRapiInvoke(LPCWSTR dll, LPCWSTR function, DWORD inputBytes, BYTE* input, DWORD* outputBytes,
                            BYTE** output, IRAPIStream** stream, DWORD reserved) {
    return rapi::link::CeRapiInvoke(dll, function, inputBytes, input, outputBytes, output, stream, reserved);
}
