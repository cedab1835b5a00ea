// The handheld's local heap (LocalAlloc / LocalFree): host memory, tracked so that a
// block is released once and a test can see whether an output was released.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tova {

class LocalHeap {
public:
    // Null when the request is larger than the handheld could give.
    static void* Allocate(size_t bytes, bool zeroed);
    // false (and nothing freed) for a block that is not live.
    static bool Free(void* block);
    static bool IsLive(const void* block);
    static size_t Outstanding();
};

}  // namespace tova
