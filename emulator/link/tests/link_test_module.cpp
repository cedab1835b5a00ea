// A handheld library for link tests, placed in the handheld's \Windows in place of the
// service library. Each export writes what it received to \Temp\LinkTestCall.bin (the
// input size, then the input) and behaves as the one-byte file \Temp\LinkTestMode says:
//   absent or 'N'  normal: FnTOVAInfo hands back a 104-byte record whose byte i is 0xA0 + i
//   'F'            FnTOVAInfo fails with E_FAIL but still hands back that record
//   'S'            FnTOVAInfo succeeds with an 8-byte output
//   'Z'            FnTOVAInfo succeeds with no output at all
//   'E'            IsCheckSumOk fails with E_FAIL
//   'C'            every export returns 0x8007000D instead of its usual result
// Further exports exercise the link itself:
//   WaitForRelease  returns S_OK once \Temp\LinkTestRelease exists (polls with Sleep)
//   FreesInput      releases its input with LocalFree itself, then returns S_OK
//   HugeOutput      hands back a 1 MiB + 1 byte output
//   Echo            hands back a copy of its input
#include <cstring>

#include "platform/wince/api.h"

#define LINK_TEST_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr HRESULT kOtherFailure = static_cast<HRESULT>(0x8007000D);
constexpr DWORD kRecordBytes = 104;
constexpr DWORD kHugeBytes = (1u << 20) + 1;

char ReadMode() {
    HANDLE file = CreateFileW(u"\\Temp\\LinkTestMode", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 'N';
    char mode = 'N';
    DWORD read = 0;
    if (!ReadFile(file, &mode, 1, &read, nullptr) || read != 1) mode = 'N';
    CloseHandle(file);
    return mode;
}

void RecordCall(DWORD cbInput, const BYTE* pInput) {
    HANDLE file = CreateFileW(u"\\Temp\\LinkTestCall.bin", GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, &cbInput, sizeof cbInput, &written, nullptr);
    if (pInput != nullptr && cbInput > 0) WriteFile(file, pInput, cbInput, &written, nullptr);
    CloseHandle(file);
}

BYTE* PatternBlock(DWORD bytes) {
    auto* block = static_cast<BYTE*>(LocalAlloc(LPTR, bytes));
    if (block == nullptr) return nullptr;
    for (DWORD i = 0; i < bytes; ++i) block[i] = static_cast<BYTE>(0xA0 + i);
    return block;
}

HRESULT Simple(DWORD cbInput, BYTE* pInput, HRESULT usual) {
    RecordCall(cbInput, pInput);
    return ReadMode() == 'C' ? kOtherFailure : usual;
}

}  // namespace

LINK_TEST_EXPORT HRESULT FnTOVAInfo(DWORD cbInput, BYTE* pInput, DWORD* pcbOutput,
                                    BYTE** ppOutput, IRAPIStream* stream) {
    RecordCall(cbInput, pInput);
    char mode = ReadMode();
    if (mode == 'C') return kOtherFailure;
    if (mode == 'Z') return S_OK;
    DWORD bytes = mode == 'S' ? 8 : kRecordBytes;
    BYTE* record = PatternBlock(bytes);
    if (record == nullptr) return E_FAIL;
    *pcbOutput = bytes;
    *ppOutput = record;
    return mode == 'F' ? E_FAIL : S_OK;
}

LINK_TEST_EXPORT HRESULT ColdReset(DWORD cbInput, BYTE* pInput, DWORD*, BYTE**, IRAPIStream*) {
    return Simple(cbInput, pInput, S_OK);
}

LINK_TEST_EXPORT HRESULT WarmReset(DWORD cbInput, BYTE* pInput, DWORD*, BYTE**, IRAPIStream*) {
    return Simple(cbInput, pInput, S_OK);
}

LINK_TEST_EXPORT HRESULT IsCheckSumOk(DWORD cbInput, BYTE* pInput, DWORD*, BYTE**, IRAPIStream*) {
    RecordCall(cbInput, pInput);
    char mode = ReadMode();
    if (mode == 'C') return kOtherFailure;
    return mode == 'E' ? E_FAIL : S_OK;
}

LINK_TEST_EXPORT HRESULT WaitForRelease(DWORD, BYTE*, DWORD*, BYTE**, IRAPIStream*) {
    for (;;) {
        HANDLE file = CreateFileW(u"\\Temp\\LinkTestRelease", GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return S_OK;
        }
        Sleep(10);
    }
}

LINK_TEST_EXPORT HRESULT FreesInput(DWORD, BYTE* pInput, DWORD*, BYTE**, IRAPIStream*) {
    LocalFree(pInput);
    return S_OK;
}

LINK_TEST_EXPORT HRESULT HugeOutput(DWORD, BYTE*, DWORD* pcbOutput, BYTE** ppOutput,
                                    IRAPIStream*) {
    BYTE* block = static_cast<BYTE*>(LocalAlloc(LPTR, kHugeBytes));
    if (block == nullptr) return E_FAIL;
    *pcbOutput = kHugeBytes;
    *ppOutput = block;
    return S_OK;
}

LINK_TEST_EXPORT HRESULT Echo(DWORD cbInput, BYTE* pInput, DWORD* pcbOutput, BYTE** ppOutput,
                              IRAPIStream*) {
    if (cbInput == 0) return S_OK;
    BYTE* block = static_cast<BYTE*>(LocalAlloc(LPTR, cbInput));
    if (block == nullptr) return E_FAIL;
    std::memcpy(block, pInput, cbInput);
    *pcbOutput = cbInput;
    *ppOutput = block;
    return S_OK;
}
