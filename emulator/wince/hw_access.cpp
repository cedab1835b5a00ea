// The hardware accessors: each access goes to the active machine's bus. Without a machine
// reads answer all ones, as a floating bus would, and writes go nowhere.
#include "platform_call.h"
#include "platform/wince/hw.h"

using tova::PlatformCall;

extern "C" {

uint8_t HwRead8(uint32_t address) {
    PlatformCall call;
    return call ? call->Bus().Read8(address) : 0xFF;
}

uint16_t HwRead16(uint32_t address) {
    PlatformCall call;
    return call ? call->Bus().Read16(address) : 0xFFFF;
}

uint32_t HwRead32(uint32_t address) {
    PlatformCall call;
    return call ? call->Bus().Read32(address) : 0xFFFFFFFF;
}

void HwWrite8(uint32_t address, uint8_t value) {
    PlatformCall call;
    if (call) call->Bus().Write8(address, value);
}

void HwWrite16(uint32_t address, uint16_t value) {
    PlatformCall call;
    if (call) call->Bus().Write16(address, value);
}

void HwWrite32(uint32_t address, uint32_t value) {
    PlatformCall call;
    if (call) call->Bus().Write32(address, value);
}

void* HwHostPointer(uint32_t address, uint32_t length) {
    PlatformCall call;
    return call ? call->Bus().HostPointer(address, length) : nullptr;
}

void HwMaskInterrupts(void) {
    PlatformCall call;
    if (call) call->MaskInterrupts();
}

}  // extern "C"
