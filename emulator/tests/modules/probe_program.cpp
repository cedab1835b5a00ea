// A small handheld program for the platform's tests. Its entry reads a command word from
// \Temp\probe.cmd and
//   write  creates \Temp\probe.out holding "ran"
//   loop   counts up the RAM word at kCounterAddress for ever, sleeping 1 ms between
//   reset  removes the command, drives GPIO pin 21 low (the reset line), then tries to
//          create \Temp\probe.out holding "after"
// With no command file it does nothing.
// It also refers to every function of the platform, so that loading it (the loader binds
// every symbol at once) shows that its host provides them all.
#include <cstdint>
#include <cstring>

#include "platform/wince/api.h"
#include "platform/wince/hw.h"

namespace {

constexpr uint32_t kCounterAddress = 0xA4100000;
constexpr uint32_t kGpioDirection0 = 0xA9000000 + 0x0C;
constexpr uint32_t kGpioClear0 = 0xA9000000 + 0x24;
constexpr uint32_t kPin21 = 1u << 21;

void WriteOut(const char* text) {
    HANDLE f = CreateFileW(u"\\Temp\\probe.out", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(f, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    CloseHandle(f);
}

bool ReadCommand(char* command, DWORD size) {
    HANDLE f = CreateFileW(u"\\Temp\\probe.cmd", GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD read = 0;
    BOOL ok = ReadFile(f, command, size - 1, &read, nullptr);
    CloseHandle(f);
    command[ok ? read : 0] = 0;
    return ok;
}

}  // namespace

extern "C" __attribute__((visibility("default"), used)) const void* const kEveryPlatformFunction[] = {
    reinterpret_cast<const void*>(&KernelIoControl), reinterpret_cast<const void*>(&GetSystemPowerStatusEx2),
    reinterpret_cast<const void*>(&GetSystemDefaultLangID), reinterpret_cast<const void*>(&GetSystemInfo),
    reinterpret_cast<const void*>(&GetLastError), reinterpret_cast<const void*>(&SetLastError),
    reinterpret_cast<const void*>(&CreateFileW), reinterpret_cast<const void*>(&GetFileSize),
    reinterpret_cast<const void*>(&ReadFile), reinterpret_cast<const void*>(&WriteFile),
    reinterpret_cast<const void*>(&SetEndOfFile), reinterpret_cast<const void*>(&CloseHandle),
    reinterpret_cast<const void*>(&DeleteFileW), reinterpret_cast<const void*>(&RegOpenKeyExW),
    reinterpret_cast<const void*>(&RegCreateKeyExW), reinterpret_cast<const void*>(&RegEnumValueW),
    reinterpret_cast<const void*>(&RegQueryValueExW), reinterpret_cast<const void*>(&RegSetValueExW),
    reinterpret_cast<const void*>(&RegDeleteValueW), reinterpret_cast<const void*>(&RegDeleteKeyW),
    reinterpret_cast<const void*>(&RegCloseKey), reinterpret_cast<const void*>(&LocalAlloc),
    reinterpret_cast<const void*>(&LocalFree), reinterpret_cast<const void*>(&VirtualAlloc),
    reinterpret_cast<const void*>(&VirtualFree), reinterpret_cast<const void*>(&LockPages),
    reinterpret_cast<const void*>(&UnlockPages), reinterpret_cast<const void*>(&SetThreadPriority),
    reinterpret_cast<const void*>(&CeSetThreadPriority), reinterpret_cast<const void*>(&Sleep),
    reinterpret_cast<const void*>(&NKDbgPrintfW), reinterpret_cast<const void*>(&HwRead8),
    reinterpret_cast<const void*>(&HwRead16), reinterpret_cast<const void*>(&HwRead32),
    reinterpret_cast<const void*>(&HwWrite8), reinterpret_cast<const void*>(&HwWrite16),
    reinterpret_cast<const void*>(&HwWrite32), reinterpret_cast<const void*>(&HwHostPointer),
    reinterpret_cast<const void*>(&HwMaskInterrupts),
};

extern "C" __attribute__((visibility("default"))) int FlasherMain(void*, void*, char16_t*, int) {
    char command[16] = {};
    if (!ReadCommand(command, sizeof command)) return 0;
    if (std::strcmp(command, "write") == 0) {
        WriteOut("ran");
    } else if (std::strcmp(command, "loop") == 0) {
        for (;;) {
            HwWrite32(kCounterAddress, HwRead32(kCounterAddress) + 1);
            Sleep(1);
        }
    } else if (std::strcmp(command, "reset") == 0) {
        DeleteFileW(u"\\Temp\\probe.cmd");
        HwWrite32(kGpioClear0, kPin21);
        HwWrite32(kGpioDirection0, HwRead32(kGpioDirection0) | kPin21);
        WriteOut("after");
    }
    return 0;
}
