// Which implementation of the remote API the program talks through: the desktop's own
// remote API library (rapi.dll, installed with the sync software) bound by name, or the
// emulated handheld's link. The choice is made once, at the first call, and named once in
// the debug output.
#pragma once

#include "platform/rapi/rapi.h"

namespace rapi {

struct RemoteApi {
    const char* name;
    HRESULT (*CeRapiInit)(void);
    HRESULT (*CeRapiUninit)(void);
    DWORD (*CeGetLastError)(void);
    HRESULT (*CeRapiGetError)(void);
    BOOL (*CeGetVersionEx)(LPCEOSVERSIONINFO);
    HANDLE (*CeCreateFile)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL (*CeWriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL (*CeSetEndOfFile)(HANDLE);
    BOOL (*CeCloseHandle)(HANDLE);
    BOOL (*CeDeleteFile)(LPCWSTR);
    DWORD (*CeGetSpecialFolderPath)(int, DWORD, LPWSTR);
    HRESULT (*CeRapiInvoke)(LPCWSTR, LPCWSTR, DWORD, BYTE*, DWORD*, BYTE**, IRAPIStream**, DWORD);
    // The library frees an invocation's input itself: the local heap forgets the block.
    bool releasesInputItself;
};

// The link client.
const RemoteApi& LinkRemoteApi();
// The functions of the library `file` (a name for the platform's search order), or false
// when it is not there or lacks one of them.
bool BindRemoteApiLibrary(const char* file, RemoteApi& api);

const RemoteApi& SelectedRemoteApi();

}  // namespace rapi
