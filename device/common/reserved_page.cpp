#include "device/common/reserved_page.h"

#include "platform/wince/hw.h"

void ClearReservedWord(uint32_t reservedPage, uint32_t offset) {
    for (uint32_t i = 0; i < 4; ++i) HwWrite8(reservedPage + offset + i, 0);
}
