// The input block the desktop sends with every invocation: "ALL" and its NUL in UTF-16.
#pragma once

#include <cstdint>

// True when the first NUL-terminated UTF-16 string in the cbInput bytes at pInput is
// exactly "ALL". Nothing beyond cbInput is read; an input without a NUL in it is refused.
bool IsAllInput(uint32_t cbInput, const uint8_t* pInput);
