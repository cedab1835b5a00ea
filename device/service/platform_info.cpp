#include "device/service/platform_info.h"

#include "device/service/device_info_record.h"
#include "device/service/wide_text.h"
#include "shared/configuration.h"
#include "platform/wince/api.h"

uint32_t QueryRomBuild() {
    DWORD selector = kPlatformInfoRomBuild;
    DWORD build = 0;
    KernelIoControl(IOCTL_HAL_PLATFORM_INFO, &selector, sizeof selector, &build, sizeof build,
                    nullptr);
    return build;
}

void QueryRomVersionText(char16_t* text, uint32_t capacity) {
    if (capacity == 0) return;
    constexpr uint32_t kUnits = kPlatformInfoVersionTextBytes / sizeof(char16_t);
    DWORD selector = kPlatformInfoVersionText;
    char16_t answer[kUnits] = {};
    if (!KernelIoControl(IOCTL_HAL_PLATFORM_INFO, &selector, sizeof selector, answer,
                         sizeof answer, nullptr)) {
        CopyWideText(text, capacity, kUnknownText, sizeof kUnknownText / sizeof(char16_t));
        return;
    }
    // The answer need not hold a NUL: the copy ends at the end of the query buffer.
    CopyWideText(text, capacity, answer, kUnits);
}
