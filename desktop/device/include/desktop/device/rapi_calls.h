// The serialised remote file calls: each enters g_csRapi, makes exactly one remote API call
// with its arguments unchanged, leaves the section and returns the result unchanged.
// g_csRapi must have been initialised (desktop/device/link.h).
#pragma once

#include "platform/rapi/rapi.h"

HANDLE RapiCreateFile(LPCWSTR path, DWORD desiredAccess, DWORD shareMode,
                      LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                      DWORD flagsAndAttributes, HANDLE templateFile);
BOOL RapiWriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                   LPOVERLAPPED overlapped);
BOOL RapiSetEndOfFile(HANDLE file);
BOOL RapiCloseHandle(HANDLE object);
BOOL RapiDeleteFile(LPCWSTR path);
DWORD RapiGetSpecialFolderPath(int folder, DWORD bufferLength, LPWSTR buffer);
BOOL RapiGetVersionEx(LPCEOSVERSIONINFO versionInformation);
