#include "device/common/model_detection.h"

#include "platform/wince/api.h"

bool IsAdvancedModel() {
    for (;;) {
        DWORD selector = kModelQuerySelector;
        DWORD word = 0;
        KernelIoControl(IOCTL_HAL_MODEL_CONFIG, &selector, sizeof selector, &word, sizeof word,
                        nullptr);
        if (word == kMemoryConfigAdvanced) return true;
        if (word == kMemoryConfigBasic) return false;
        Sleep(5);
    }
}
