// KernelIoControl: the HAL codes the handheld's programs use, and the handheld's own model
// configuration and platform information queries. Any other code fails.
#include <cstring>

#include "platform_call.h"
#include "shared/configuration.h"
#include "platform/wince/api.h"

using tova::MachineImpl;

namespace {

// What the model query answers while the garbage knob lasts.
constexpr uint32_t kGarbageConfigWord = 0xDEADBEEF;

bool InputWord(LPVOID in, DWORD size, uint32_t* word) {
    if (!in || size < sizeof(uint32_t)) return false;
    std::memcpy(word, in, sizeof(uint32_t));
    return true;
}

BOOL Fail(DWORD error) {
    tova::SetThreadError(error);
    return FALSE;
}

BOOL Answer(const void* data, DWORD size, LPVOID out, DWORD outSize, LPDWORD returned) {
    if (!out || outSize < size) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(out, data, size);
    if (returned) *returned = size;
    tova::SetThreadError(ERROR_SUCCESS);
    return TRUE;
}

BOOL ModelConfig(MachineImpl& m, uint32_t selector, LPVOID out, DWORD outSize, LPDWORD returned) {
    if (selector == kModelQuerySelectorFlasher) {
        if (returned) *returned = 0;
        tova::SetThreadError(ERROR_SUCCESS);
        return TRUE;
    }
    if (selector != kModelQuerySelector) return Fail(ERROR_INVALID_PARAMETER);
    uint32_t word = m.TakeModelQueryGarbage() ? kGarbageConfigWord : m.Config().Addresses().memoryConfig;
    return Answer(&word, sizeof word, out, outSize, returned);
}

BOOL PlatformInfo(MachineImpl& m, uint32_t selector, LPVOID out, DWORD outSize, LPDWORD returned) {
    if (!m.Booted()) return Fail(ERROR_NOT_SUPPORTED);  // no ROM running
    if (selector == kPlatformInfoRomBuild) {
        uint32_t build = m.RomBuild();
        return Answer(&build, sizeof build, out, outSize, returned);
    }
    if (selector != kPlatformInfoVersionText) return Fail(ERROR_INVALID_PARAMETER);
    // The text as the ROM identity record holds it, with its NUL when it has room for one
    // within the answer; a text of eight units or more fills the answer with no NUL.
    char16_t text[kPlatformInfoVersionTextBytes / 2] = {};
    std::u16string version = m.RomVersionText();
    size_t units = std::min<size_t>(version.size() + 1, std::size(text));
    std::memcpy(text, version.data(), std::min(version.size(), std::size(text)) * 2);
    return Answer(text, static_cast<DWORD>(units * 2), out, outSize, returned);
}

}  // namespace

extern "C" BOOL KernelIoControl(DWORD dwIoControlCode, LPVOID lpInBuf, DWORD nInBufSize,
                                LPVOID lpOutBuf, DWORD nOutBufSize, LPDWORD lpBytesReturned) {
    tova::PlatformCall call;
    if (!call) return Fail(ERROR_NOT_SUPPORTED);
    MachineImpl& m = *call;
    uint32_t selector = 0;
    bool hasInput = InputWord(lpInBuf, nInBufSize, &selector);
    BOOL result = FALSE;
    switch (dwIoControlCode) {
    case IOCTL_HAL_GET_UUID: {
        auto id = m.Identifier();
        result = Answer(id.data(), static_cast<DWORD>(id.size()), lpOutBuf, nOutBufSize,
                        lpBytesReturned);
        break;
    }
    case IOCTL_HAL_REBOOT:
        // The reset runs on the machine thread; this call returns and the caller's next
        // platform call finds its boot ended.
        if (!m.Config().faults.rebootIgnored) m.RequestReset(tova::ResetKind::kReboot);
        tova::SetThreadError(ERROR_SUCCESS);
        result = TRUE;
        break;
    case IOCTL_HAL_MODEL_CONFIG:
        result = hasInput ? ModelConfig(m, selector, lpOutBuf, nOutBufSize, lpBytesReturned)
                          : Fail(ERROR_INVALID_PARAMETER);
        break;
    case IOCTL_HAL_PLATFORM_INFO:
        result = hasInput ? PlatformInfo(m, selector, lpOutBuf, nOutBufSize, lpBytesReturned)
                          : Fail(ERROR_INVALID_PARAMETER);
        break;
    default:
        result = Fail(ERROR_NOT_SUPPORTED);
        break;
    }
    m.RecordIoctl({dwIoControlCode, hasInput ? selector : 0, result == TRUE});
    return result;
}
