#include "device/service/invoke_input.h"

#include <cstring>

#include "shared/service_names.h"

bool IsAllInput(uint32_t cbInput, const uint8_t* pInput) {
    if (pInput == nullptr) return false;
    constexpr uint32_t kUnits = sizeof kInvokeInput / sizeof(char16_t);  // "ALL" and its NUL
    for (uint32_t i = 0; i < kUnits; ++i) {
        if ((i + 1) * sizeof(char16_t) > cbInput) return false;
        char16_t unit;  // the block need not be aligned for char16_t
        std::memcpy(&unit, pInput + i * sizeof(char16_t), sizeof unit);
        if (unit != kInvokeInput[i]) return false;
    }
    return true;
}
