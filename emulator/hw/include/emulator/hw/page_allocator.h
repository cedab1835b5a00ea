// Physical pages of the emulated RAM for the handheld's processes (VirtualAlloc,
// VirtualFree, LockPages, UnlockPages). A process sees addresses in its own space from
// 0x10000000 up; pages of RAM are assigned when the memory is committed, and LockPages
// tells their physical addresses (0xA0000000-based, the kernel's cached window is
// physical - 0x1C000000).
//
// The top 0x40000 bytes of RAM (reserved page, flash routine area) are never handed out,
// and no page is ever given to two reservations. A fragmentation knob hands pages out of
// physical order, so that a 1 MiB commitment is usually scattered while contiguous runs
// still turn up. Thread-safe.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace tova::hw {

inline constexpr uint32_t kPageBytes = 4096;
inline constexpr uint32_t kProcessSpaceBase = 0x10000000;
inline constexpr uint32_t kProcessSpaceEnd = 0x40000000;
inline constexpr uint32_t kReservationGranularity = 0x10000;  // 64 KiB, as on the handheld
inline constexpr uint32_t kTopOfRamKeptBytes = 0x40000;

class PageAllocator {
public:
    // `ramBytes` of RAM at `physicalBase`; the top kTopOfRamKeptBytes are never handed out.
    PageAllocator(uint32_t ramBytes, uint32_t physicalBase);

    // Reserves address space for `size` bytes (rounded up to pages; the reservation starts
    // on a 64 KiB boundary). 0 when size is 0 or the space is exhausted.
    uint32_t Reserve(uint32_t size);
    // Gives physical pages to the uncommitted pages of [address, address + size), which
    // must lie inside one reservation. false (and nothing committed) when RAM runs out or
    // the range is not reserved.
    bool Commit(uint32_t address, uint32_t size);
    // Reserve and commit in one (VirtualAlloc with MEM_COMMIT and no address). 0 on failure.
    uint32_t Allocate(uint32_t size);
    // Reserve and commit with physically consecutive pages, the lowest run free: memory the
    // platform places code and data in for a CPU that sees RAM only through its windows.
    // 0 when no run is long enough.
    uint32_t AllocateContiguous(uint32_t size);
    // Returns the pages of a range to the free pool; they stay reserved. Locked pages are
    // refused (false, nothing changed).
    bool Decommit(uint32_t address, uint32_t size);
    // Releases the whole reservation that starts at `address`, committed pages included.
    // Locked pages are refused (false, nothing changed).
    bool Release(uint32_t address);

    // Locks the committed pages of [address, address + size) in place and writes one
    // physical page address per page to physicalOut (which must hold that many entries).
    // false when a page in the range is not committed.
    bool Lock(uint32_t address, uint32_t size, uint32_t* physicalOut);
    // Undoes one Lock of each page in the range. false when a page was not locked.
    bool Unlock(uint32_t address, uint32_t size);

    // Physical address behind a committed process address, or 0.
    uint32_t PhysicalAddress(uint32_t address) const;

    // Fragmentation knob: the free pages are reordered into shuffled runs of mixed length
    // (from `seed`), so that a 1 MiB commitment is usually scattered. Off restores physical
    // order. Only the order of free pages changes; nothing committed moves.
    void SetFragmentation(bool on, uint32_t seed = 1);
    // At most `pages` pages committed at once (the default is every usable page).
    void SetPageLimit(uint32_t pages);
    uint32_t UsablePages() const { return usablePages_; }
    uint32_t CommittedPages() const;
    uint32_t FreePages() const;

    // Forgets every reservation (the processes are gone after a reset); the pages return to
    // the pool in the current order.
    void Reset();

private:
    struct Reservation {
        uint32_t pages;
        std::vector<uint32_t> physicalPage;  // page number per page, or kNoPage
        std::vector<uint32_t> lockCount;
    };
    static constexpr uint32_t kNoPage = 0xFFFFFFFF;
    // The pages [first, last) of one reservation that a range covers.
    struct PageSpan {
        Reservation* reservation = nullptr;  // null when no one reservation holds the range
        uint32_t first = 0;
        uint32_t last = 0;
    };

    PageSpan Covering(uint32_t address, uint32_t size);
    Reservation* Owning(uint32_t address, uint32_t size, uint32_t& firstPage);
    const Reservation* Owning(uint32_t address, uint32_t size, uint32_t& firstPage) const;
    uint32_t FindSpace(uint32_t bytes) const;
    void RebuildFreeOrder();

    mutable std::mutex mutex_;
    uint32_t physicalBase_;
    uint32_t usablePages_;
    uint32_t pageLimit_;
    uint32_t committed_ = 0;
    bool fragmented_ = false;
    uint32_t seed_ = 1;
    std::deque<uint32_t> free_;                  // page numbers, next handed out first
    std::map<uint32_t, Reservation> reservations_;  // by start address
};

}  // namespace tova::hw
