#include "local_heap.h"

#include <cstdlib>
#include <mutex>
#include <unordered_set>

namespace tova {

namespace {

// No single block larger than the larger model's RAM.
constexpr size_t kLargestBlock = 64u << 20;

struct Heap {
    std::mutex mutex;
    std::unordered_set<const void*> live;
};

Heap& TheHeap() {
    static Heap* heap = new Heap;  // outlives every static that might free into it
    return *heap;
}

}  // namespace

void* LocalHeap::Allocate(size_t bytes, bool zeroed) {
    if (bytes > kLargestBlock) return nullptr;
    size_t size = bytes == 0 ? 1 : bytes;
    void* block = zeroed ? std::calloc(1, size) : std::malloc(size);
    if (!block) return nullptr;
    Heap& heap = TheHeap();
    std::lock_guard lock(heap.mutex);
    heap.live.insert(block);
    return block;
}

bool LocalHeap::Free(void* block) {
    Heap& heap = TheHeap();
    {
        std::lock_guard lock(heap.mutex);
        if (heap.live.erase(block) == 0) return false;
    }
    std::free(block);
    return true;
}

bool LocalHeap::IsLive(const void* block) {
    Heap& heap = TheHeap();
    std::lock_guard lock(heap.mutex);
    return heap.live.count(block) != 0;
}

size_t LocalHeap::Outstanding() {
    Heap& heap = TheHeap();
    std::lock_guard lock(heap.mutex);
    return heap.live.size();
}

}  // namespace tova
