#include "rapi/local_memory.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

namespace win32 {
namespace {

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
    // A zero-byte request still yields a distinct block, as the platform's heap does.
    void* block = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, uBytes ? uBytes : 1)
                                           : std::malloc(uBytes ? uBytes : 1);
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
    std::free(hMem);
    return nullptr;
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
