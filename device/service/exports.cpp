#include "device/service/exports.h"

#include "device/common/model_detection.h"
#include "device/service/checksum_verification.h"
#include "device/service/device_info_record.h"
#include "device/service/invoke_input.h"
#include "device/service/resets.h"

// The RAPI service releases the input block; the output record passes to it with
// *ppOutput and is never released here.

HRESULT FnTOVAInfo(DWORD cbInput, BYTE* pInput, DWORD* pcbOutput, BYTE** ppOutput,
                   IRAPIStream*) {
    if (!IsAllInput(cbInput, pInput)) return E_FAIL;
    // Nowhere to hand the record over: allocating it would only leak it.
    if (pcbOutput == nullptr || ppOutput == nullptr) return E_FAIL;
    // A few bytes more than the record: only kDeviceInfoSize of them travel.
    auto* info = static_cast<DeviceInfo*>(LocalAlloc(LPTR, kDeviceInfoAllocSize));
    if (info == nullptr) return E_FAIL;
    FillDeviceInfo(*info);
    *pcbOutput = kDeviceInfoSize;
    *ppOutput = reinterpret_cast<BYTE*>(info);
    return S_OK;
}

HRESULT ColdReset(DWORD, BYTE*, DWORD*, BYTE**, IRAPIStream*) {
    ColdRestart(IsAdvancedModel());
    return S_OK;
}

HRESULT WarmReset(DWORD, BYTE*, DWORD*, BYTE**, IRAPIStream*) {
    WarmRestart();
    return S_OK;
}

HRESULT IsCheckSumOk(DWORD, BYTE*, DWORD*, BYTE**, IRAPIStream*) {
    return SegmentChecksumsMatch(IsAdvancedModel()) ? S_OK : E_FAIL;
}
