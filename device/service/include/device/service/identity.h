// Whether the handheld is one the library serves: its device identifier must end in the
// product's identity pattern.
#pragma once

// Reads the 16-byte device identifier and compares its last six bytes with
// kIdentityPattern. A failed identifier query counts as not recognised.
bool IsSupportedDevice();
