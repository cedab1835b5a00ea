// The platform functions an ARM module may import (api_functions.def), each bound to a
// thunk in one page of fixed code that every CPU context maps at kThunkPage. Thunk i is
// "svc #i; bx lr": the CPU hands the svc to the platform, which answers in r0, and the
// thunk returns to the module.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tova::arm {

enum class PlatformFunction : uint32_t {
#define TOVA_WINCE_FUNCTION(name) k##name,
#include "platform/wince/api_functions.def"
#undef TOVA_WINCE_FUNCTION
    kCount
};

inline constexpr uint32_t kPlatformFunctionCount = uint32_t(PlatformFunction::kCount);
// Above the RAM, flash and device windows, below the CPU's return page.
inline constexpr uint32_t kThunkPage = 0xFFFE0000;
inline constexpr uint32_t kThunkBytes = 8;

std::optional<PlatformFunction> PlatformFunctionNamed(std::string_view name);
const char* PlatformFunctionName(PlatformFunction function);
uint32_t ThunkAddress(PlatformFunction function);
// The function whose thunk's svc was just executed, from the pc after it; nullopt when
// the pc is not right after a thunk's svc.
std::optional<PlatformFunction> ThunkCalledFrom(uint32_t pcAfterSvc);
// The thunk page's words.
std::vector<uint32_t> ThunkCode();

}  // namespace tova::arm
