#include "device/service/identity.h"

#include "shared/device_identity.h"
#include "platform/wince/api.h"

bool IsSupportedDevice() {
    BYTE id[kDeviceIdentifierBytes] = {};
    if (!KernelIoControl(IOCTL_HAL_GET_UUID, nullptr, 0, id, sizeof id, nullptr)) return false;
    const BYTE* tail = id + kIdentityPatternOffset;
    // Byte by byte, in order: the first difference ends the check.
    if (tail[0] != kIdentityPattern[0]) return false;
    if (tail[1] != kIdentityPattern[1]) return false;
    if (tail[2] != kIdentityPattern[2]) return false;
    if (tail[3] != kIdentityPattern[3]) return false;
    if (tail[4] != kIdentityPattern[4]) return false;
    if (tail[5] != kIdentityPattern[5]) return false;
    return true;
}
