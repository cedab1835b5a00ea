// The remote API's entry points: each forwards to the implementation chosen for the program.
#include "platform/rapi/local_memory.h"
#include "platform/rapi/rapi.h"
#include "remote_api_provider.h"

using rapi::SelectedRemoteApi;

extern "C" {

HRESULT CeRapiInit(void) { return SelectedRemoteApi().CeRapiInit(); }
HRESULT CeRapiUninit(void) { return SelectedRemoteApi().CeRapiUninit(); }
DWORD CeGetLastError(void) { return SelectedRemoteApi().CeGetLastError(); }
HRESULT CeRapiGetError(void) { return SelectedRemoteApi().CeRapiGetError(); }

BOOL CeGetVersionEx(LPCEOSVERSIONINFO lpVersionInformation) {
    return SelectedRemoteApi().CeGetVersionEx(lpVersionInformation);
}

HANDLE CeCreateFile(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                    LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                    DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    return SelectedRemoteApi().CeCreateFile(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                                            dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
}

BOOL CeWriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                 LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    return SelectedRemoteApi().CeWriteFile(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten,
                                           lpOverlapped);
}

BOOL CeSetEndOfFile(HANDLE hFile) { return SelectedRemoteApi().CeSetEndOfFile(hFile); }
BOOL CeCloseHandle(HANDLE hObject) { return SelectedRemoteApi().CeCloseHandle(hObject); }
BOOL CeDeleteFile(LPCWSTR lpFileName) { return SelectedRemoteApi().CeDeleteFile(lpFileName); }

DWORD CeGetSpecialFolderPath(int nFolder, DWORD nBufferLength, LPWSTR lpBuffer) {
    return SelectedRemoteApi().CeGetSpecialFolderPath(nFolder, nBufferLength, lpBuffer);
}

HRESULT CeRapiInvoke(LPCWSTR pDllPath, LPCWSTR pFunctionName, DWORD cbInput, BYTE* pInput,
                     DWORD* pcbOutput, BYTE** ppOutput, IRAPIStream** ppIRAPIStream,
                     DWORD dwReserved) {
    const rapi::RemoteApi& api = SelectedRemoteApi();
    if (api.releasesInputItself) win32::ForgetLocalBlock(pInput);
    HRESULT result = api.CeRapiInvoke(pDllPath, pFunctionName, cbInput, pInput, pcbOutput, ppOutput,
                                      ppIRAPIStream, dwReserved);
    if (api.releasesInputItself && ppOutput != nullptr) win32::AdoptLocalBlock(*ppOutput);
    return result;
}

}  // extern "C"
