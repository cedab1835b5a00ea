// The Windows CE registry functions on the machine's registry. As on Windows CE,
// RegDeleteKeyW deletes a key with everything below it, and values enumerate in a stable
// order (the order they were created in).
#include <cstring>

#include "platform_call.h"
#include "platform/wince/api.h"

using tova::PlatformCall;
using tova::RegKey;
using tova::Registry;

namespace {

constexpr size_t kMaxValueNameUnits = 16383;

std::u16string_view Text(LPCWSTR text) { return text ? std::u16string_view(text) : u""; }

LONG KeyFor(PlatformCall& call, HKEY handle, std::shared_ptr<RegKey>* key) {
    if (!call) return ERROR_NOT_SUPPORTED;
    *key = call->RegHandles().Get(call->Reg(), handle);
    if (!*key) return ERROR_INVALID_HANDLE;
    if ((*key)->deleted) return ERROR_KEY_DELETED;
    return ERROR_SUCCESS;
}

// Copies a value's data to a caller's buffer the Win32 way: no buffer asks for the size,
// a short buffer gets ERROR_MORE_DATA and the size needed.
LONG CopyData(const tova::RegValue& value, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (lpType) *lpType = value.type;
    if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
    DWORD size = static_cast<DWORD>(value.data.size());
    if (!lpcbData) return ERROR_SUCCESS;
    if (lpData && *lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (lpData && size) std::memcpy(lpData, value.data.data(), size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
    PlatformCall call;
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    if (!call) return ERROR_NOT_SUPPORTED;
    std::lock_guard lock(call->Reg().Mutex());
    std::shared_ptr<RegKey> from;
    if (LONG error = KeyFor(call, hKey, &from)) return error;
    auto key = Registry::Lookup(from, Text(lpSubKey));
    if (!key) return ERROR_FILE_NOT_FOUND;
    *phkResult = static_cast<HKEY>(call->RegHandles().Open(key));
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM,
                     LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
    PlatformCall call;
    if (!phkResult || !call) return phkResult ? ERROR_NOT_SUPPORTED : ERROR_INVALID_PARAMETER;
    std::lock_guard lock(call->Reg().Mutex());
    std::shared_ptr<RegKey> from;
    if (LONG error = KeyFor(call, hKey, &from)) return error;
    bool created = false;
    auto key = Registry::CreatePath(from, Text(lpSubKey), &created);
    if (!key) return ERROR_INVALID_PARAMETER;
    *phkResult = static_cast<HKEY>(call->RegHandles().Open(key));
    if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                   LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    PlatformCall call;
    if (!call) return ERROR_NOT_SUPPORTED;
    if (!lpValueName || !lpcchValueName) return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(call->Reg().Mutex());
    std::shared_ptr<RegKey> key;
    if (LONG error = KeyFor(call, hKey, &key)) return error;
    if (dwIndex >= key->values.size()) return ERROR_NO_MORE_ITEMS;
    const auto& [name, value] = key->values[dwIndex];
    if (*lpcchValueName < name.size() + 1) return ERROR_MORE_DATA;
    std::memcpy(lpValueName, name.data(), name.size() * sizeof(char16_t));
    lpValueName[name.size()] = 0;
    *lpcchValueName = static_cast<DWORD>(name.size());
    return CopyData(value, lpType, lpData, lpcbData);
}

LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
    PlatformCall call;
    if (!call) return ERROR_NOT_SUPPORTED;
    std::lock_guard lock(call->Reg().Mutex());
    std::shared_ptr<RegKey> key;
    if (LONG error = KeyFor(call, hKey, &key)) return error;
    auto* value = key->FindValue(Text(lpValueName));
    if (!value) return ERROR_FILE_NOT_FOUND;
    return CopyData(value->second, lpType, lpData, lpcbData);
}

LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
    PlatformCall call;
    if (!call) return ERROR_NOT_SUPPORTED;
    if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
    if (Text(lpValueName).size() > kMaxValueNameUnits) return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(call->Reg().Mutex());
    std::shared_ptr<RegKey> key;
    if (LONG error = KeyFor(call, hKey, &key)) return error;
    tova::RegValue value{dwType, std::vector<uint8_t>(lpData, lpData + cbData)};
    if (auto* existing = key->FindValue(Text(lpValueName))) existing->second = value;
    else key->values.emplace_back(std::u16string(Text(lpValueName)), value);
    return ERROR_SUCCESS;
}

LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    PlatformCall call;
    if (!call) return ERROR_NOT_SUPPORTED;
    std::lock_guard lock(call->Reg().Mutex());
    std::shared_ptr<RegKey> key;
    if (LONG error = KeyFor(call, hKey, &key)) return error;
    auto name = Text(lpValueName);
    auto* value = key->FindValue(name);
    if (!value) return ERROR_FILE_NOT_FOUND;
    if (call->Reg().IsUndeletable(*key, name)) return ERROR_ACCESS_DENIED;
    key->values.erase(key->values.begin() + (value - key->values.data()));
    return ERROR_SUCCESS;
}

LONG RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    PlatformCall call;
    if (!call) return ERROR_NOT_SUPPORTED;
    if (Text(lpSubKey).empty()) return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(call->Reg().Mutex());
    std::shared_ptr<RegKey> from;
    if (LONG error = KeyFor(call, hKey, &from)) return error;
    auto key = Registry::Lookup(from, Text(lpSubKey));
    if (!key) return ERROR_FILE_NOT_FOUND;
    Registry::Detach(*key);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
    PlatformCall call;
    if (!call) return ERROR_NOT_SUPPORTED;
    if (call->RegHandles().IsPredefined(hKey)) return ERROR_SUCCESS;
    return call->RegHandles().Close(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // extern "C"
