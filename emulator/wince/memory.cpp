// LocalAlloc / LocalFree on the tracked local heap, and VirtualAlloc, VirtualFree,
// LockPages, UnlockPages over the board's page allocator. A process address handed out by
// VirtualAlloc is the emulated process's address as an opaque pointer: it names pages of
// the emulated RAM and is never dereferenced on the host.
#include <algorithm>
#include <vector>

#include "local_heap.h"
#include "platform_call.h"
#include "emulator/hw/page_allocator.h"
#include "platform/wince/api.h"

using tova::PlatformCall;
using tova::SetThreadError;

namespace {

uint32_t ProcessAddress(LPVOID pointer) {
    auto value = reinterpret_cast<uintptr_t>(pointer);
    return value > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(value);
}

}  // namespace

extern "C" {

HLOCAL LocalAlloc(UINT uFlags, UINT uBytes) {
    void* block = tova::LocalHeap::Allocate(uBytes, (uFlags & LMEM_ZEROINIT) != 0);
    SetThreadError(block ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY);
    return block;
}

HLOCAL LocalFree(HLOCAL hMem) {
    if (hMem == nullptr) return nullptr;
    if (!tova::LocalHeap::Free(hMem)) {
        SetThreadError(ERROR_INVALID_HANDLE);
        return hMem;  // failure: the block is handed back
    }
    return nullptr;
}

LPVOID VirtualAlloc(LPVOID lpAddress, DWORD dwSize, DWORD flAllocationType, DWORD) {
    PlatformCall call;
    if (!call || lpAddress != nullptr || dwSize == 0 || !(flAllocationType & MEM_COMMIT)) {
        SetThreadError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    uint32_t address = call->Pages().Allocate(dwSize);
    if (address == 0) {
        SetThreadError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    SetThreadError(ERROR_SUCCESS);
    return reinterpret_cast<LPVOID>(static_cast<uintptr_t>(address));
}

BOOL VirtualFree(LPVOID lpAddress, DWORD dwSize, DWORD dwFreeType) {
    PlatformCall call;
    uint32_t address = ProcessAddress(lpAddress);
    if (!call || address == 0 || dwFreeType != MEM_RELEASE || dwSize != 0 ||
        !call->Pages().Release(address)) {
        SetThreadError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SetThreadError(ERROR_SUCCESS);
    return TRUE;
}

BOOL LockPages(LPVOID lpvAddress, DWORD cbSize, PDWORD pPFNs, int) {
    PlatformCall call;
    uint32_t address = ProcessAddress(lpvAddress);
    if (!call || address == 0 || cbSize == 0) {
        SetThreadError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    uint64_t end = uint64_t(address) + cbSize - 1;
    if (end >= tova::hw::kProcessSpaceEnd) {
        SetThreadError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    uint64_t first = address / tova::hw::kPageBytes, last = end / tova::hw::kPageBytes;
    std::vector<uint32_t> pages(last - first + 1);
    if (!call->Pages().Lock(address, cbSize, pages.data())) {
        SetThreadError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (pPFNs) std::copy(pages.begin(), pages.end(), pPFNs);
    SetThreadError(ERROR_SUCCESS);
    return TRUE;
}

BOOL UnlockPages(LPVOID lpvAddress, DWORD cbSize) {
    PlatformCall call;
    uint32_t address = ProcessAddress(lpvAddress);
    if (!call || address == 0 || cbSize == 0 || !call->Pages().Unlock(address, cbSize)) {
        SetThreadError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SetThreadError(ERROR_SUCCESS);
    return TRUE;
}

}  // extern "C"
