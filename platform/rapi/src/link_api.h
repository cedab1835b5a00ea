// The remote API as a client of the emulated handheld's link server: the same calls as
// platform/rapi/rapi.h, which forwards to them unless the desktop's own remote API library is used.
#pragma once

#include "platform/rapi/rapi.h"

namespace rapi::link {

HRESULT CeRapiInit(void);
HRESULT CeRapiUninit(void);
DWORD CeGetLastError(void);
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
DWORD CeGetSpecialFolderPath(int nFolder, DWORD nBufferLength, LPWSTR lpBuffer);
HRESULT CeRapiInvoke(LPCWSTR pDllPath, LPCWSTR pFunctionName, DWORD cbInput, BYTE* pInput,
                     DWORD* pcbOutput, BYTE** ppOutput, IRAPIStream** ppIRAPIStream,
                     DWORD dwReserved);

}  // namespace rapi::link
