// The library's exports: block-mode remote invocation targets (PFN_RAPI_EXTENSION) that the
// handheld's RAPI service finds by name.
#pragma once

#include "platform/wince/api.h"

#define HARLIX_EXPORT extern "C" __attribute__((visibility("default")))

HARLIX_EXPORT HRESULT FnTOVAInfo(DWORD cbInput, BYTE* pInput, DWORD* pcbOutput, BYTE** ppOutput,
                                 IRAPIStream* pIRAPIStream);
HARLIX_EXPORT HRESULT ColdReset(DWORD cbInput, BYTE* pInput, DWORD* pcbOutput, BYTE** ppOutput,
                                IRAPIStream* pIRAPIStream);
HARLIX_EXPORT HRESULT WarmReset(DWORD cbInput, BYTE* pInput, DWORD* pcbOutput, BYTE** ppOutput,
                                IRAPIStream* pIRAPIStream);
HARLIX_EXPORT HRESULT IsCheckSumOk(DWORD cbInput, BYTE* pInput, DWORD* pcbOutput,
                                   BYTE** ppOutput, IRAPIStream* pIRAPIStream);
