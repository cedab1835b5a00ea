// The service library's FnTOVAInfo with any input block, called inside the emulated handheld
// as its remote API service calls it. Only the four-unit text "ALL" gets the record; anything
// else fails with nothing allocated. The block is a host allocation of its exact size, so a
// read past it is caught.
#include <memory>

#include "booted_handheld.h"
#include "device/service/exports.h"
#include "device/service/invoke_input.h"
#include "shared/device_info.h"
#include "shared/service_names.h"
#include "platform/wince/api.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tova::Machine& machine = fuzz::BootedHandheld();
    std::unique_ptr<BYTE[]> block(size > 0 ? new BYTE[size] : nullptr);
    if (size > 0) std::memcpy(block.get(), data, size);

    const bool all = size >= kInvokeInputBytes && std::memcmp(data, kInvokeInput, kInvokeInputBytes) == 0;
    if (IsAllInput(DWORD(size), block.get()) != all) std::abort();

    HRESULT result = E_FAIL + 1;  // neither answer the export gives
    DWORD outputBytes = 0xDEADBEEF;
    BYTE sentinel = 0;
    BYTE* output = &sentinel;
    bool ran = machine.RunDeviceCall([&] {
        result = FnTOVAInfo(DWORD(size), block.get(), &outputBytes, &output, nullptr);
    });
    if (!ran) std::abort();
    if (!all) {
        if (result != E_FAIL || output != &sentinel || outputBytes != 0xDEADBEEF) std::abort();
        return 0;
    }
    if (result != S_OK || outputBytes != kDeviceInfoSize || !machine.IsLiveLocalAllocation(output)) std::abort();
    machine.RunDeviceCall([&] { LocalFree(output); });
    return 0;
}
