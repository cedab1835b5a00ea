// The desktop's calls into the device service library on the handheld (\Windows\HARLIX.DLL),
// one block-mode remote invocation each with the input "ALL". They take no lock and do not
// look at g_bConnected; each returns the invocation's HRESULT unchanged (E_FAIL when the
// input block cannot be allocated).
#pragma once

#include "platform/rapi/rapi.h"
#include "shared/device_info.h"

// On S_OK and with a non-null info, the first 72 bytes of the handheld's record (valid up to
// romVersionText) are copied into *info; modelName and everything on failure stay untouched.
HRESULT InvokeFnTOVAInfo(DeviceInfo* info);
HRESULT InvokeColdReset();
HRESULT InvokeWarmReset();
// S_OK when every segment file verifies, E_FAIL when one does not.
HRESULT InvokeIsCheckSumOk();
