#include "desktop/device/service_client.h"

#include <cstring>

#include "platform/rapi/local_memory.h"
#include "shared/service_names.h"

namespace {

// The input block is allocated at twice the size of "ALL" with its NUL.
constexpr UINT kInputAllocationBytes = 2 * kInvokeInputBytes;

// One block-mode invocation of `name` with the input "ALL". `info`, when given, receives
// the first 72 bytes of the record that a successful call returns.
HRESULT InvokeService(const ServiceExportName& name, DeviceInfo* info) {
    HLOCAL block = win32::LocalAlloc(LPTR, kInputAllocationBytes);
    if (block == nullptr) return E_FAIL;
    auto* input = static_cast<BYTE*>(win32::LocalLock(block));
    if (input == nullptr) {
        win32::LocalFree(block);
        return E_FAIL;
    }
    std::memcpy(input, kInvokeInput, kInvokeInputBytes);

    DWORD outputBytes = 0;
    BYTE* output = nullptr;
    // CeRapiInvoke releases the input block itself.
    HRESULT result = CeRapiInvoke(kServiceLibraryName, name.wide, kInvokeInputBytes, input,
                                  &outputBytes, &output, nullptr, 0);
    if (result == S_OK && info != nullptr) {
        // A record shorter than what is copied would be read past its end: refuse it
        // rather than report success with a record that was never filled.
        if (output != nullptr && outputBytes >= kDeviceInfoDesktopBytes) {
            std::memcpy(info, output, kDeviceInfoDesktopBytes);
        } else {
            result = E_FAIL;
        }
    }
    win32::LocalFree(output);
    return result;
}

}  // namespace

HRESULT InvokeFnTOVAInfo(DeviceInfo* info) { return InvokeService(kExportFnTOVAInfo, info); }

HRESULT InvokeColdReset() { return InvokeService(kExportColdReset, nullptr); }

HRESULT InvokeWarmReset() { return InvokeService(kExportWarmReset, nullptr); }

HRESULT InvokeIsCheckSumOk() { return InvokeService(kExportIsCheckSumOk, nullptr); }
