#include "platform/rapi/local_memory.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#ifdef _WIN32
// The process's local heap. Declared here rather than through <windows.h>, whose base
// types would clash with the handheld's in this file.
extern "C" __declspec(dllimport) void* __stdcall LocalAlloc(unsigned int flags, size_t bytes);
extern "C" __declspec(dllimport) void* __stdcall LocalFree(void* block);
#endif

namespace win32 {
namespace {

void* AllocateBlock(UINT flags, size_t bytes) {
    // A zero-byte request still yields a distinct block, as the platform's heap does.
    if (bytes == 0) bytes = 1;
#ifdef _WIN32
    return ::LocalAlloc(flags & LMEM_ZEROINIT, bytes);
#else
    return (flags & LMEM_ZEROINIT) ? std::calloc(1, bytes) : std::malloc(bytes);
#endif
}

void ReleaseBlock(void* block) {
#ifdef _WIN32
    ::LocalFree(block);
#else
    std::free(block);
#endif
}

struct Heap {
    std::mutex mutex;
    std::unordered_set<void*> live;
    unsigned failuresPending = 0;
};

// Never destroyed: a thread still running at exit may release a block.
Heap& TheHeap() {
    static auto* heap = new Heap;
    return *heap;
}

}  // namespace

HLOCAL LocalAlloc(UINT uFlags, size_t uBytes) {
    Heap& heap = TheHeap();
    std::lock_guard lock(heap.mutex);
    if (heap.failuresPending > 0) {
        --heap.failuresPending;
        return nullptr;
    }
    void* block = AllocateBlock(uFlags, uBytes);
    if (block != nullptr) heap.live.insert(block);
    return block;
}

LPVOID LocalLock(HLOCAL hMem) {
    Heap& heap = TheHeap();
    std::lock_guard lock(heap.mutex);
    return heap.live.count(hMem) ? hMem : nullptr;
}

BOOL LocalUnlock(HLOCAL hMem) { return FALSE; }

HLOCAL LocalFree(HLOCAL hMem) {
    if (hMem == nullptr) return nullptr;
    Heap& heap = TheHeap();
    {
        std::lock_guard lock(heap.mutex);
        if (heap.live.erase(hMem) == 0) return hMem;
    }
    ReleaseBlock(hMem);
    return nullptr;
}

void ForgetLocalBlock(HLOCAL hMem) {
    if (hMem == nullptr) return;
    Heap& heap = TheHeap();
    std::lock_guard lock(heap.mutex);
    heap.live.erase(hMem);
}

void AdoptLocalBlock(HLOCAL hMem) {
    if (hMem == nullptr) return;
    Heap& heap = TheHeap();
    std::lock_guard lock(heap.mutex);
    heap.live.insert(hMem);
}

size_t LocalBlocksOutstanding() {
    Heap& heap = TheHeap();
    std::lock_guard lock(heap.mutex);
    return heap.live.size();
}

void FailNextLocalAllocs(unsigned count) {
    Heap& heap = TheHeap();
    std::lock_guard lock(heap.mutex);
    heap.failuresPending = count;
}

}  // namespace win32
