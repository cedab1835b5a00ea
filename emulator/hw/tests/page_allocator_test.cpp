// Physical pages of the emulated RAM: process addresses, physical addresses consistent
// with the kernel's windows, exclusivity, the kept top of RAM and fragmentation.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "shared/configuration.h"
#include "emulator/hw/board.h"

namespace tova::hw::test {
namespace {

constexpr uint32_t kMiB = 0x100000;

bool Contiguous(const std::vector<uint32_t>& physical) {
    for (size_t i = 1; i < physical.size(); ++i)
        if (physical[i] != physical[i - 1] + kPageBytes) return false;
    return true;
}

std::vector<uint32_t> LockAll(PageAllocator& pages, uint32_t address, uint32_t size) {
    std::vector<uint32_t> physical((size + kPageBytes - 1) / kPageBytes);
    EXPECT_TRUE(pages.Lock(address, size, physical.data()));
    return physical;
}

class ModelTest : public ::testing::TestWithParam<const ModelAddresses*> {};

TEST_P(ModelTest, PhysicalAddressesMatchTheKernelWindows) {
    Board board(*GetParam());
    PageAllocator& pages = board.Pages();
    pages.SetFragmentation(true, 7);
    uint32_t address = pages.Allocate(kMiB);
    ASSERT_NE(address, 0u);
    std::vector<uint32_t> physical = LockAll(pages, address, kMiB);

    for (size_t i = 0; i < physical.size(); ++i) {
        SCOPED_TRACE(i);
        uint32_t p = physical[i];
        ASSERT_EQ(p % kPageBytes, 0u);
        ASSERT_GE(p, kRamPhysicalBase);
        ASSERT_LT(p, kRamPhysicalBase + GetParam()->ramBytes);
        // Written through the kernel's cached window, read back uncached.
        uint32_t cached = p - kPhysicalToKernelCached;
        uint32_t uncached = kRamUncachedBase + (p - kRamPhysicalBase);
        board.Bus().Write32(cached + 0x10, 0xC0DE0000u | uint32_t(i));
        ASSERT_EQ(board.Bus().Read32(uncached + 0x10), 0xC0DE0000u | uint32_t(i));
        ASSERT_EQ(pages.PhysicalAddress(address + uint32_t(i) * kPageBytes + 0x10), p + 0x10);
    }
    EXPECT_EQ(board.Bus().GuestErrors().Count(), 0u);
}

TEST_P(ModelTest, TopOfRamIsNeverHandedOutAndNoPageTwice) {
    Board board(*GetParam());
    PageAllocator& pages = board.Pages();
    pages.SetFragmentation(true, 3);
    std::set<uint32_t> seen;
    uint32_t reservations = 0;
    for (;;) {
        uint32_t address = pages.Allocate(64 * kPageBytes);
        if (address == 0) break;
        ++reservations;
        for (uint32_t p : LockAll(pages, address, 64 * kPageBytes)) {
            ASSERT_TRUE(seen.insert(p).second) << std::hex << p;
            ASSERT_LT(p, kRamPhysicalBase + GetParam()->ramBytes - kTopOfRamKeptBytes);
        }
    }
    // Everything but the kept top went out, in whole reservations.
    EXPECT_EQ(reservations, pages.UsablePages() / 64);
    EXPECT_EQ(pages.UsablePages(), (GetParam()->ramBytes - kTopOfRamKeptBytes) / kPageBytes);
    // The reserved page and the flash routine area lie in the kept top.
    uint32_t reservedPhysical = GetParam()->reservedRamPage - kRamUncachedBase + kRamPhysicalBase;
    uint32_t routinePhysical = GetParam()->flashRoutineArea - kRamCachedBase + kRamPhysicalBase;
    EXPECT_EQ(seen.count(reservedPhysical & ~(kPageBytes - 1)), 0u);
    EXPECT_EQ(seen.count(routinePhysical & ~(kPageBytes - 1)), 0u);
}

INSTANTIATE_TEST_SUITE_P(Models, ModelTest, ::testing::Values(&kAdvancedModel, &kBasicModel),
                         [](const auto& info) { return info.param == &kAdvancedModel ? "advanced" : "basic"; });

class PageAllocatorTest : public ::testing::Test {
protected:
    PageAllocator pages{32 * kMiB, kRamPhysicalBase};
};

TEST_F(PageAllocatorTest, UnfragmentedMegabyteIsContiguous) {
    uint32_t address = pages.Allocate(kMiB);
    EXPECT_EQ(address, kProcessSpaceBase);
    EXPECT_TRUE(Contiguous(LockAll(pages, address, kMiB)));
}

TEST_F(PageAllocatorTest, FragmentedMegabytesAreMostlyScatteredButSomeAreContiguous) {
    for (uint32_t seed : {1u, 2u, 3u, 42u}) {
        SCOPED_TRACE(seed);
        pages.Reset();
        pages.SetFragmentation(true, seed);
        int contiguous = 0, scattered = 0;
        for (int i = 0; i < 24; ++i) {
            uint32_t address = pages.Allocate(kMiB);
            ASSERT_NE(address, 0u);
            (Contiguous(LockAll(pages, address, kMiB)) ? contiguous : scattered)++;
        }
        EXPECT_GE(contiguous, 1);
        EXPECT_GT(scattered, contiguous);
    }
}

TEST_F(PageAllocatorTest, ReservationsDoNotOverlapAndStartOn64KiB) {
    std::vector<std::pair<uint32_t, uint32_t>> ranges;
    for (uint32_t size : {1u, 4096u, 4097u, 0x10000u, 0x12345u, 3u * kMiB}) {
        uint32_t address = pages.Reserve(size);
        ASSERT_NE(address, 0u);
        EXPECT_EQ(address % kReservationGranularity, 0u);
        for (auto [start, end] : ranges) EXPECT_TRUE(address >= end || address + size <= start);
        ranges.emplace_back(address, address + size);
    }
    EXPECT_EQ(pages.Reserve(0), 0u);
    EXPECT_EQ(pages.CommittedPages(), 0u);
}

TEST_F(PageAllocatorTest, PagesAreAssignedAtCommit) {
    uint32_t address = pages.Reserve(8 * kPageBytes);
    uint32_t physical[8] = {};
    EXPECT_EQ(pages.PhysicalAddress(address), 0u);
    EXPECT_FALSE(pages.Lock(address, 8 * kPageBytes, physical));
    ASSERT_TRUE(pages.Commit(address + 2 * kPageBytes, 2 * kPageBytes));
    EXPECT_EQ(pages.CommittedPages(), 2u);
    EXPECT_NE(pages.PhysicalAddress(address + 2 * kPageBytes), 0u);
    EXPECT_EQ(pages.PhysicalAddress(address + 4 * kPageBytes), 0u);
    EXPECT_TRUE(pages.Lock(address + 2 * kPageBytes, 2 * kPageBytes, physical));
    // A range that leaves its reservation is refused.
    EXPECT_FALSE(pages.Commit(address + 7 * kPageBytes, 2 * kPageBytes));
    EXPECT_FALSE(pages.Commit(0x0F000000, kPageBytes));
}

TEST_F(PageAllocatorTest, LockedPagesStayUntilUnlocked) {
    uint32_t address = pages.Allocate(4 * kPageBytes);
    uint32_t free = pages.FreePages();
    uint32_t physical[4];
    ASSERT_TRUE(pages.Lock(address, 4 * kPageBytes, physical));
    EXPECT_FALSE(pages.Release(address));
    EXPECT_FALSE(pages.Decommit(address, kPageBytes));
    ASSERT_TRUE(pages.Unlock(address, 4 * kPageBytes));
    EXPECT_FALSE(pages.Unlock(address, 4 * kPageBytes));
    ASSERT_TRUE(pages.Release(address));
    EXPECT_EQ(pages.FreePages(), free + 4);
    EXPECT_FALSE(pages.Release(address));
    EXPECT_EQ(pages.PhysicalAddress(address), 0u);
}

TEST_F(PageAllocatorTest, ReleasedPagesGoToTheNextReservation) {
    uint32_t first = pages.Allocate(kMiB);
    uint32_t physicalFirst = pages.PhysicalAddress(first);
    ASSERT_TRUE(pages.Release(first));
    // Until everything else is used, the released pages wait at the back of the pool.
    std::set<uint32_t> handedOut;
    while (uint32_t address = pages.Allocate(kMiB)) {
        for (uint32_t page = 0; page < kMiB / kPageBytes; ++page)
            handedOut.insert(pages.PhysicalAddress(address + page * kPageBytes));
    }
    EXPECT_EQ(handedOut.count(physicalFirst), 1u);
    EXPECT_EQ(pages.FreePages(), pages.UsablePages() % (kMiB / kPageBytes));
}

TEST_F(PageAllocatorTest, PageLimitBoundsWhatIsCommitted) {
    pages.SetPageLimit(10);
    EXPECT_EQ(pages.Allocate(11 * kPageBytes), 0u);
    uint32_t address = pages.Allocate(10 * kPageBytes);
    EXPECT_NE(address, 0u);
    EXPECT_EQ(pages.Allocate(kPageBytes), 0u);
    ASSERT_TRUE(pages.Release(address));
    EXPECT_NE(pages.Allocate(kPageBytes), 0u);
}

TEST_F(PageAllocatorTest, ContiguousAllocationsAreContiguousEvenWhenFragmented) {
    pages.SetFragmentation(true, 7);
    std::set<uint32_t> taken;
    for (uint32_t size : {kPageBytes, 300 * kPageBytes + 1, 2 * kMiB}) {
        SCOPED_TRACE(size);
        const uint32_t address = pages.AllocateContiguous(size);
        ASSERT_NE(address, 0u);
        std::vector<uint32_t> physical = LockAll(pages, address, size);
        EXPECT_TRUE(Contiguous(physical));
        for (uint32_t page : physical) EXPECT_TRUE(taken.insert(page).second) << "page given twice";
        ASSERT_TRUE(pages.Unlock(address, size));
    }
    // Scattered commitments still never get a page of a contiguous one.
    while (uint32_t address = pages.Allocate(kMiB))
        for (uint32_t page : LockAll(pages, address, kMiB)) EXPECT_EQ(taken.count(page), 0u);
    EXPECT_EQ(pages.AllocateContiguous(kMiB), 0u) << "no run left that long";
    EXPECT_EQ(pages.AllocateContiguous(0), 0u);
}

TEST_F(PageAllocatorTest, ResetForgetsEveryReservation) {
    uint32_t address = pages.Allocate(kMiB);
    uint32_t physical[256];
    ASSERT_TRUE(pages.Lock(address, kMiB, physical));
    pages.Reset();
    EXPECT_EQ(pages.CommittedPages(), 0u);
    EXPECT_EQ(pages.FreePages(), pages.UsablePages());
    EXPECT_EQ(pages.PhysicalAddress(address), 0u);
    EXPECT_EQ(pages.Allocate(kMiB), kProcessSpaceBase);
}

}  // namespace
}  // namespace tova::hw::test
