// The Windows CE API that handheld code (HARLIX.DLL, Velkor.exe) calls, with the
// platform's names and signatures. On the host these are implemented by the emulated
// handheld; a module resolves them against the executable that loads it.
#pragma once

#include "platform/wince/ioctl.h"
#include "platform/wince/types.h"

typedef struct _SYSTEM_POWER_STATUS_EX2 {
    BYTE ACLineStatus;
    BYTE BatteryFlag;
    BYTE BatteryLifePercent;
    BYTE Reserved1;
    DWORD BatteryLifeTime;
    DWORD BatteryFullLifeTime;
    BYTE Reserved2;
    BYTE BackupBatteryFlag;
    BYTE BackupBatteryLifePercent;
    BYTE Reserved3;
    DWORD BackupBatteryLifeTime;
    DWORD BackupBatteryFullLifeTime;
    DWORD BatteryVoltage;
    DWORD BatteryCurrent;
    DWORD BatteryAverageCurrent;
    DWORD BatteryAverageInterval;
    DWORD BatterymAHourConsumed;
    DWORD BatteryTemperature;
    DWORD BackupBatteryVoltage;
    BYTE BatteryChemistry;
} SYSTEM_POWER_STATUS_EX2, *PSYSTEM_POWER_STATUS_EX2;
static_assert(sizeof(SYSTEM_POWER_STATUS_EX2) == 56);

#define AC_LINE_OFFLINE 0x00
#define AC_LINE_ONLINE 0x01
#define BATTERY_PERCENTAGE_UNKNOWN 0xFF

typedef struct _SYSTEM_INFO {
    DWORD dwPageSize;
    DWORD dwAllocationGranularity;
    DWORD dwNumberOfProcessors;
} SYSTEM_INFO, *LPSYSTEM_INFO;

// The block-mode remote invocation target that the RAPI service calls.
struct IRAPIStream;
typedef HRESULT (*PFN_RAPI_EXTENSION)(DWORD cbInput, BYTE* pInput, DWORD* pcbOutput,
                                      BYTE** ppOutput, IRAPIStream* pIRAPIStream);

// The pseudo-handle of the calling thread.
#define CURRENT_THREAD_PSEUDO_HANDLE ((HANDLE)(uintptr_t)0x41)

extern "C" {

BOOL KernelIoControl(DWORD dwIoControlCode, LPVOID lpInBuf, DWORD nInBufSize, LPVOID lpOutBuf,
                     DWORD nOutBufSize, LPDWORD lpBytesReturned);
DWORD GetSystemPowerStatusEx2(PSYSTEM_POWER_STATUS_EX2 pSystemPowerStatusEx2, DWORD dwLen,
                              BOOL fUpdate);
LANGID GetSystemDefaultLangID(void);
void GetSystemInfo(LPSYSTEM_INFO lpSystemInfo);
DWORD GetLastError(void);
void SetLastError(DWORD dwErrCode);

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
BOOL SetEndOfFile(HANDLE hFile);
BOOL CloseHandle(HANDLE hObject);
BOOL DeleteFileW(LPCWSTR lpFileName);

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   PHKEY phkResult);
LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                     DWORD dwOptions, REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                     PHKEY phkResult, LPDWORD lpdwDisposition);
LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                   LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData);
LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                    const BYTE* lpData, DWORD cbData);
LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);
LONG RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);
LONG RegCloseKey(HKEY hKey);

HLOCAL LocalAlloc(UINT uFlags, UINT uBytes);
HLOCAL LocalFree(HLOCAL hMem);

LPVOID VirtualAlloc(LPVOID lpAddress, DWORD dwSize, DWORD flAllocationType, DWORD flProtect);
BOOL VirtualFree(LPVOID lpAddress, DWORD dwSize, DWORD dwFreeType);
BOOL LockPages(LPVOID lpvAddress, DWORD cbSize, PDWORD pPFNs, int fOptions);
BOOL UnlockPages(LPVOID lpvAddress, DWORD cbSize);

BOOL SetThreadPriority(HANDLE hThread, int nPriority);
BOOL CeSetThreadPriority(HANDLE hThread, int nPriority);
void Sleep(DWORD dwMilliseconds);
void NKDbgPrintfW(LPCWSTR lpszFmt, ...);

}  // extern "C"
