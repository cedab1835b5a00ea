// The desktop side of the remote API: the calls the desktop makes on the handheld, with the
// platform's names and signatures. Here they are a client of the emulated handheld's link
// server on a loopback socket; the endpoint comes from TOVA_RAPI ("host:port", default
// 127.0.0.1:4990) unless a program sets it with rapi::SetEndpoint.
//
// The calls are safe from several threads at once. Each call in flight gets its own
// connection of the session, so a long invocation never waits for a file call, nor the
// other way round. Once the link drops, every call in flight and every later call fails
// promptly until CeRapiInit connects again; only CeRapiInvoke first tries, for at most a
// second (scaled), to open a new session (see there).
#pragma once

#include <string>

#include "platform/wince/types.h"

typedef struct _CEOSVERSIONINFO {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
} CEOSVERSIONINFO, *LPCEOSVERSIONINFO;

#ifndef VER_PLATFORM_WIN32_CE
#define VER_PLATFORM_WIN32_CE 3u
#endif

// The stream of a stream-mode invocation; only block mode (no stream) is offered.
struct IRAPIStream;

#ifndef HRESULT_FROM_WIN32
#define HRESULT_FROM_WIN32(x) \
    ((HRESULT)(x) <= 0 ? ((HRESULT)(x)) : ((HRESULT)(((x) & 0x0000FFFF) | (7 << 16) | 0x80000000)))
#endif
#ifndef E_INVALIDARG
#define E_INVALIDARG ((HRESULT)0x80070057)
#endif
#ifndef E_OUTOFMEMORY
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#endif
#ifndef E_NOTIMPL
#define E_NOTIMPL ((HRESULT)0x80004001)
#endif
#define CERAPI_E_ALREADYINITIALIZED ((HRESULT)0x80041001)

// Win32 error codes the link reports besides those of platform/wince/types.h.
#ifndef ERROR_MOD_NOT_FOUND
#define ERROR_MOD_NOT_FOUND 126L
#endif
#ifndef ERROR_PROC_NOT_FOUND
#define ERROR_PROC_NOT_FOUND 127L
#endif
#ifndef ERROR_CONNECTION_ABORTED
#define ERROR_CONNECTION_ABORTED 1236L
#endif
#ifndef ERROR_NOT_CONNECTED
#define ERROR_NOT_CONNECTED 2250L
#endif

extern "C" {

// Blocks until the handheld accepts a session, retrying while nothing listens or the
// handheld's link is down. S_OK once connected; CERAPI_E_ALREADYINITIALIZED when a working
// session already exists; E_FAIL only when the link cannot be used at all (an endpoint
// that cannot be parsed, or CeRapiUninit cancelled the wait).
HRESULT CeRapiInit(void);
// Ends the session (calls in flight fail) and cancels every CeRapiInit still waiting.
HRESULT CeRapiUninit(void);

// Error of the last failed call on this thread: the handheld's GetLastError for a file
// call it refused, or ERROR_NOT_CONNECTED / ERROR_CONNECTION_ABORTED for the link itself.
DWORD CeGetLastError(void);
// HRESULT of the link failure behind the last failed call on this thread, S_OK if none.
HRESULT CeRapiGetError(void);

BOOL CeGetVersionEx(LPCEOSVERSIONINFO lpVersionInformation);
HANDLE CeCreateFile(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                    LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                    DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL CeWriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                 LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
BOOL CeSetEndOfFile(HANDLE hFile);
BOOL CeCloseHandle(HANDLE hObject);
BOOL CeDeleteFile(LPCWSTR lpFileName);
// Copies the folder's path with its NUL into lpBuffer and returns its length in
// characters without the NUL; 0 (buffer untouched) on failure or when it does not fit.
DWORD CeGetSpecialFolderPath(int nFolder, DWORD nBufferLength, LPWSTR lpBuffer);

// Block-mode invocation of pFunctionName in the handheld's \Windows\<pDllPath>.DLL.
// pInput must come from win32::LocalAlloc; it is released here with win32::LocalFree
// whatever the outcome. On return *ppOutput is a win32::LocalAlloc block of *pcbOutput
// bytes (or null) that the caller releases with win32::LocalFree. ppIRAPIStream must be
// null: stream mode is not offered (E_NOTIMPL).
// When the session of the last CeRapiInit has died (the link dropped) and the handheld
// accepts a new one at once, the invocation opens it, makes it the current session and
// runs there; otherwise it fails as every call on a dead link does. Before any CeRapiInit
// and after CeRapiUninit it fails.
HRESULT CeRapiInvoke(LPCWSTR pDllPath, LPCWSTR pFunctionName, DWORD cbInput, BYTE* pInput,
                     DWORD* pcbOutput, BYTE** ppOutput, IRAPIStream** ppIRAPIStream,
                     DWORD dwReserved);

}  // extern "C"

namespace rapi {

inline constexpr char kDefaultEndpoint[] = "127.0.0.1:4990";

// Makes later CeRapiInit calls use this endpoint instead of TOVA_RAPI; an empty string
// goes back to TOVA_RAPI. Used by programs and tests that start their own handheld.
void SetEndpoint(const std::string& endpoint);
// The endpoint the next CeRapiInit will use.
std::string Endpoint();

}  // namespace rapi
