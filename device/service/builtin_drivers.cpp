#include "device/service/builtin_drivers.h"

#include "platform/wince/api.h"

const WCHAR BuiltInDriverKeys[kDriverKeySlots][kDriverKeySlotUnits] = {
    u"ExtConnDrv", u"FlshDrv", u"IrCOMM", u"IrDA",   u"sdmmcloader", u"Serial",
    u"USB",        u"WaveDev", u"GSM610", u"NDIS",   u"",
};

// The longest value name the registry hands back, in code units with its NUL.
static constexpr DWORD kValueNameUnits = 256;

// Deletes the values of an open key one by one, always at index 0 since each deletion moves
// the rest down. A value that will not go would come back at index 0 for ever, so the first
// deletion that fails ends the loop.
static void DeleteAllValues(HKEY key) {
    WCHAR name[kValueNameUnits];
    for (;;) {
        DWORD nameUnits = kValueNameUnits;
        DWORD type = 0;
        if (RegEnumValueW(key, 0, name, &nameUnits, nullptr, &type, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            return;
        }
        if (RegDeleteValueW(key, name) != ERROR_SUCCESS) return;
    }
}

static void RemoveDriverKey(HKEY builtIn, LPCWSTR name) {
    HKEY driver = nullptr;
    if (RegOpenKeyExW(builtIn, name, 0, 0, &driver) != ERROR_SUCCESS) return;
    DeleteAllValues(driver);
    RegCloseKey(driver);
    RegDeleteKeyW(builtIn, name);
}

LONG RemoveBuiltInDrivers() {
    HKEY builtIn = nullptr;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kBuiltInDriversPath, 0, 0, &builtIn);
    if (opened != ERROR_SUCCESS) return opened;
    for (uint32_t i = 0; BuiltInDriverKeys[i][0] != 0; ++i) {
        RemoveDriverKey(builtIn, BuiltInDriverKeys[i]);
    }
    return RegCloseKey(builtIn);
}
