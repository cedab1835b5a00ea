// KernelIoControl codes that the handheld code uses.
#pragma once

#include "platform/wince/types.h"

#define FILE_DEVICE_HAL 0x00000101u
#define METHOD_BUFFERED 0u
#define FILE_ANY_ACCESS 0u
#define CTL_CODE(DeviceType, Function, Method, Access) \
    (((DeviceType) << 16) | ((Access) << 14) | ((Function) << 2) | (Method))

#define IOCTL_HAL_GET_UUID CTL_CODE(FILE_DEVICE_HAL, 13, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_HAL_REBOOT CTL_CODE(FILE_DEVICE_HAL, 15, METHOD_BUFFERED, FILE_ANY_ACCESS)
// Codes of the handheld's own platform.
#define IOCTL_HAL_MODEL_CONFIG CTL_CODE(FILE_DEVICE_HAL, 4003, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_HAL_PLATFORM_INFO CTL_CODE(FILE_DEVICE_HAL, 4004, METHOD_BUFFERED, FILE_ANY_ACCESS)

static_assert(IOCTL_HAL_GET_UUID == 0x01010034u);
static_assert(IOCTL_HAL_REBOOT == 0x0101003Cu);
static_assert(IOCTL_HAL_MODEL_CONFIG == 0x01013E8Cu);
static_assert(IOCTL_HAL_PLATFORM_INFO == 0x01013E90u);
