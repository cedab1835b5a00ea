#include "desktop/pages/device_flags.h"

std::atomic<int32_t> g_bRefuse{0};
std::atomic<int32_t> g_bLanguageMismatch{0};
std::atomic<int32_t> g_bSameVersion{0};
