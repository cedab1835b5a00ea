// The desktop's local heap (on Windows the process's own local heap, which the desktop's
// remote API library shares), as the remote API's block-mode rule uses it: the caller
// allocates an invocation's input with LocalAlloc and CeRapiInvoke releases it; the output
// comes back from LocalAlloc and the caller releases it. Kept in namespace win32 because
// the handheld's LocalAlloc/LocalFree (platform/wince/api.h) may live in the same executable.
#pragma once

#include <cstddef>

#include "platform/wince/types.h"

namespace win32 {

// LPTR / LMEM_FIXED blocks; LMEM_ZEROINIT zero-fills. Null on failure.
HLOCAL LocalAlloc(UINT uFlags, size_t uBytes);
// Address of a block (fixed blocks: the block itself); null for anything not allocated here.
LPVOID LocalLock(HLOCAL hMem);
BOOL LocalUnlock(HLOCAL hMem);
// Null on success; hMem itself when it is not a live block (nothing is touched then).
HLOCAL LocalFree(HLOCAL hMem);

// A block that another heap user released (the desktop's remote API library frees an
// invocation's input) or allocated (its output), so that this heap stops or starts
// knowing it. Null is ignored.
void ForgetLocalBlock(HLOCAL hMem);
void AdoptLocalBlock(HLOCAL hMem);

// Blocks currently allocated and not released (tests check releases with it).
size_t LocalBlocksOutstanding();
// Makes the next `count` LocalAlloc calls fail, as an exhausted heap would.
void FailNextLocalAllocs(unsigned count);

}  // namespace win32
