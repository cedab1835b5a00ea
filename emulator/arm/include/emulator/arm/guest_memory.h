// The guest's memory as ARM code sees it: the board's RAM at both of its windows (cached
// 0x84000000, uncached 0xA4000000). Translates guest addresses to host pointers with
// bounds checks, and hands out blocks of physically consecutive RAM pages (from the
// board's page allocator, locked so that no guest VirtualFree can take them) that the
// guest sees at one cached-window address.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "emulator/hw/board.h"

namespace tova::arm {

class GuestBlock;

class GuestMemory {
public:
    explicit GuestMemory(hw::Board& board) : board_(board) {}

    // Host pointer to `length` bytes at a guest address, or null when the range is not
    // wholly inside one RAM window (a null guest pointer is never inside).
    uint8_t* Host(uint32_t address, uint32_t length) const;
    // The guest (cached-window) address of a host pointer into RAM, or 0.
    uint32_t GuestAddress(const void* host) const;

    // `bytes` (rounded up to pages) of zeroed guest RAM, or null when no run of free pages
    // is long enough.
    std::unique_ptr<GuestBlock> Allocate(uint32_t bytes);

    hw::Board& Board() const { return board_; }

    // The host wrote code into guest memory: every CPU context forgets what it translated
    // before its next call (it compares the generation it last saw).
    void CodeWritten() { codeGeneration_.fetch_add(1, std::memory_order_release); }
    uint64_t CodeGeneration() const { return codeGeneration_.load(std::memory_order_acquire); }

private:
    hw::Board& board_;
    std::atomic<uint64_t> codeGeneration_{0};
};

class GuestBlock {
public:
    ~GuestBlock();
    GuestBlock(const GuestBlock&) = delete;
    GuestBlock& operator=(const GuestBlock&) = delete;

    uint32_t Address() const { return address_; }  // cached window
    uint32_t Size() const { return size_; }
    uint8_t* Host() const { return host_; }

private:
    friend class GuestMemory;
    GuestBlock(hw::PageAllocator& pages, uint32_t processAddress, uint32_t address, uint32_t size,
               uint8_t* host)
        : pages_(pages), processAddress_(processAddress), address_(address), size_(size), host_(host) {}
    hw::PageAllocator& pages_;
    uint32_t processAddress_;
    uint32_t address_;
    uint32_t size_;
    uint8_t* host_;
};

}  // namespace tova::arm
