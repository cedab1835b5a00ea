#include "desktop/device/model_flag.h"

std::atomic<int32_t> g_bAdvancedModel{0};
