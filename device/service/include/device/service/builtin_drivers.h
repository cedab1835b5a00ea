// The built-in drivers that WarmReset removes from HKLM\Drivers\BuiltIn so that the
// handheld restarts without them and the flasher has the hardware to itself.
#pragma once

#include <cstdint>

#include "platform/wince/types.h"

inline constexpr uint32_t kDriverKeySlotUnits = 20;
inline constexpr uint32_t kDriverKeySlots = 11;  // ten names and the empty slot that ends them

// Fixed slots in removal order, ended by an empty slot.
extern const WCHAR BuiltInDriverKeys[kDriverKeySlots][kDriverKeySlotUnits];

inline constexpr WCHAR kBuiltInDriversPath[] = u"Drivers\\BuiltIn";

// Removes each listed driver key with all its values. Missing keys are skipped; a value
// that cannot be deleted ends the work on that key. Returns the registry result of
// opening (on failure) or closing Drivers\BuiltIn.
LONG RemoveBuiltInDrivers();
