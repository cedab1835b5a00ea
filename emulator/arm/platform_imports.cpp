#include "emulator/arm/platform_imports.h"

namespace tova::arm {

namespace {

constexpr const char* kNames[] = {
#define TOVA_WINCE_FUNCTION(name) #name,
#include "platform/wince/api_functions.def"
#undef TOVA_WINCE_FUNCTION
};
static_assert(sizeof kNames / sizeof kNames[0] == kPlatformFunctionCount);

constexpr uint32_t kSvc = 0xEF000000;   // svc #imm24 (always)
constexpr uint32_t kBxLr = 0xE12FFF1E;  // bx lr

}  // namespace

std::optional<PlatformFunction> PlatformFunctionNamed(std::string_view name) {
    for (uint32_t i = 0; i < kPlatformFunctionCount; ++i)
        if (name == kNames[i]) return PlatformFunction(i);
    return std::nullopt;
}

const char* PlatformFunctionName(PlatformFunction function) {
    const uint32_t i = uint32_t(function);
    return i < kPlatformFunctionCount ? kNames[i] : "(no such function)";
}

uint32_t ThunkAddress(PlatformFunction function) { return kThunkPage + uint32_t(function) * kThunkBytes; }

std::optional<PlatformFunction> ThunkCalledFrom(uint32_t pcAfterSvc) {
    const uint32_t svc = pcAfterSvc - 4;
    if (svc < kThunkPage || (svc - kThunkPage) % kThunkBytes != 0) return std::nullopt;
    const uint32_t index = (svc - kThunkPage) / kThunkBytes;
    if (index >= kPlatformFunctionCount) return std::nullopt;
    return PlatformFunction(index);
}

std::vector<uint32_t> ThunkCode() {
    std::vector<uint32_t> words;
    for (uint32_t i = 0; i < kPlatformFunctionCount; ++i) {
        words.push_back(kSvc | i);
        words.push_back(kBxLr);
    }
    return words;
}

}  // namespace tova::arm
