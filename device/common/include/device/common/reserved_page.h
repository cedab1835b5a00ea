// Words of the reserved RAM page below the top of RAM that the handheld's firmware reads.
#pragma once

#include <cstdint>

// Clears the 32-bit word at page + offset one byte at a time from the lowest address, as
// the firmware expects it to be written.
void ClearReservedWord(uint32_t reservedPage, uint32_t offset);
