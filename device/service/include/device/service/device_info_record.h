// Filling the DeviceInfo record that FnTOVAInfo hands to the desktop.
#pragma once

#include "shared/device_info.h"

// Text that stands in for a value the library cannot tell.
inline constexpr char16_t kUnknownText[] = u"UnKnown";
inline constexpr char16_t kModelNameText[] = u"TOVA5";

// Fills a zero-filled record. An unrecognised handheld gets the fixed "unknown" record and
// no platform query beyond the identity check.
void FillDeviceInfo(DeviceInfo& info);
