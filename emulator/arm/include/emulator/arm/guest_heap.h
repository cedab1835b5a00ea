// The local heap (LocalAlloc / LocalFree) for ARM code: blocks of guest RAM with guest
// addresses, tracked so that a block is released once and the link server or a test can
// tell a live block from anything else. Each block is whole pages of its own, so a guest
// that writes past its block's end cannot reach another block's bookkeeping (there is none
// in guest memory). Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "emulator/arm/guest_memory.h"

namespace tova::arm {

class GuestHeap {
public:
    explicit GuestHeap(GuestMemory& memory) : memory_(memory) {}

    // The guest address of `bytes` zeroed bytes, or 0 when guest RAM runs out.
    uint32_t Allocate(uint32_t bytes);
    // false (and nothing freed) for an address that is not a live block.
    bool Free(uint32_t address);
    bool IsLive(uint32_t address) const;
    // The size asked for a live block, 0 for anything else.
    uint32_t BlockBytes(uint32_t address) const;
    size_t Outstanding() const;

private:
    struct Block {
        std::unique_ptr<GuestBlock> memory;
        uint32_t bytes;
    };
    GuestMemory& memory_;
    mutable std::mutex mutex_;
    std::map<uint32_t, Block> live_;
};

}  // namespace tova::arm
