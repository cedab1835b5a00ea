#include "emulator/hw/page_allocator.h"

#include <algorithm>
#include <random>
#include <stdexcept>
#include <utility>

namespace tova::hw {
namespace {

uint32_t PagesFor(uint32_t bytes) { return uint32_t((uint64_t(bytes) + kPageBytes - 1) / kPageBytes); }

// Whether `holds` is true of every page of `span`. Changes check every page before they
// touch any, so a refused change leaves the span as it was.
template <typename Span, typename Predicate>
bool EveryPage(const Span& span, Predicate holds) {
    for (uint32_t p = span.first; p < span.last; ++p)
        if (!holds(p)) return false;
    return true;
}

}  // namespace

PageAllocator::PageAllocator(uint32_t ramBytes, uint32_t physicalBase)
    : physicalBase_(physicalBase) {
    if (ramBytes <= kTopOfRamKeptBytes || ramBytes % kPageBytes != 0)
        throw std::invalid_argument("page allocator: RAM size must be whole pages above 256 KiB");
    usablePages_ = (ramBytes - kTopOfRamKeptBytes) / kPageBytes;
    pageLimit_ = usablePages_;
    RebuildFreeOrder();
}

// Free pages in the order they will be handed out. In physical order unless fragmented:
// then runs of 1 to 64 pages, with one run in sixteen long enough (300 to 600 pages) to
// hold a contiguous megabyte, shuffled as a whole. About one 1 MiB commitment in five then
// lands wholly inside a long run.
void PageAllocator::RebuildFreeOrder() {
    std::vector<bool> inUse(usablePages_, false);
    for (const auto& [start, r] : reservations_)
        for (uint32_t page : r.physicalPage)
            if (page != kNoPage) inUse[page] = true;

    std::vector<uint32_t> freePages;
    for (uint32_t p = 0; p < usablePages_; ++p)
        if (!inUse[p]) freePages.push_back(p);

    free_.clear();
    if (!fragmented_) {
        free_.assign(freePages.begin(), freePages.end());
        return;
    }
    std::mt19937 random(seed_);
    std::vector<std::pair<size_t, size_t>> runs;  // [first, last) in freePages
    for (size_t at = 0; at < freePages.size();) {
        bool longRun = random() % 16 == 0;
        size_t length = longRun ? 300 + random() % 301 : 1 + random() % 64;
        length = std::min(length, freePages.size() - at);
        runs.emplace_back(at, at + length);
        at += length;
    }
    std::shuffle(runs.begin(), runs.end(), random);
    for (auto [first, last] : runs)
        free_.insert(free_.end(), freePages.begin() + first, freePages.begin() + last);
}

PageAllocator::Reservation* PageAllocator::Owning(uint32_t address, uint32_t size,
                                                  uint32_t& firstPage) {
    return const_cast<Reservation*>(std::as_const(*this).Owning(address, size, firstPage));
}

const PageAllocator::Reservation* PageAllocator::Owning(uint32_t address, uint32_t size,
                                                        uint32_t& firstPage) const {
    if (size == 0) return nullptr;
    auto after = reservations_.upper_bound(address);
    if (after == reservations_.begin()) return nullptr;
    auto it = std::prev(after);
    uint64_t start = it->first;
    uint64_t end = start + uint64_t(it->second.pages) * kPageBytes;
    if (address >= end || uint64_t(address) + size > end) return nullptr;
    firstPage = uint32_t((address - start) / kPageBytes);
    return &it->second;
}

PageAllocator::PageSpan PageAllocator::Covering(uint32_t address, uint32_t size) {
    PageSpan span;
    span.reservation = Owning(address, size, span.first);
    if (span.reservation) span.last = span.first + PagesFor(address % kPageBytes + size);
    return span;
}

uint32_t PageAllocator::FindSpace(uint32_t bytes) const {
    uint64_t candidate = kProcessSpaceBase;
    for (const auto& [start, r] : reservations_) {
        if (candidate + bytes <= start) break;
        uint64_t end = uint64_t(start) + uint64_t(r.pages) * kPageBytes;
        candidate = (end + kReservationGranularity - 1) / kReservationGranularity * kReservationGranularity;
    }
    return candidate + bytes <= kProcessSpaceEnd ? uint32_t(candidate) : 0;
}

uint32_t PageAllocator::Reserve(uint32_t size) {
    if (size == 0) return 0;
    std::lock_guard lock(mutex_);
    uint32_t pages = PagesFor(size);
    uint32_t address = FindSpace(pages * kPageBytes);
    if (address == 0) return 0;
    reservations_[address] = Reservation{pages, std::vector<uint32_t>(pages, kNoPage),
                                         std::vector<uint32_t>(pages, 0)};
    return address;
}

bool PageAllocator::Commit(uint32_t address, uint32_t size) {
    std::lock_guard lock(mutex_);
    PageSpan span = Covering(address, size);
    Reservation* r = span.reservation;
    if (!r) return false;
    uint32_t needed = 0;
    for (uint32_t p = span.first; p < span.last; ++p) needed += r->physicalPage[p] == kNoPage;
    if (needed > free_.size() || committed_ + needed > pageLimit_) return false;
    for (uint32_t p = span.first; p < span.last; ++p) {
        if (r->physicalPage[p] != kNoPage) continue;
        r->physicalPage[p] = free_.front();
        free_.pop_front();
    }
    committed_ += needed;
    return true;
}

uint32_t PageAllocator::Allocate(uint32_t size) {
    uint32_t address = Reserve(size);
    if (address == 0) return 0;
    if (!Commit(address, size)) {
        Release(address);
        return 0;
    }
    return address;
}

uint32_t PageAllocator::AllocateContiguous(uint32_t size) {
    if (size == 0) return 0;
    std::lock_guard lock(mutex_);
    const uint32_t pages = PagesFor(size);
    if (committed_ + pages > pageLimit_) return 0;
    std::vector<uint32_t> sorted(free_.begin(), free_.end());
    std::sort(sorted.begin(), sorted.end());
    size_t runStart = 0;
    for (size_t i = 0; i < sorted.size(); ++i) {
        if (i > 0 && sorted[i] != sorted[i - 1] + 1) runStart = i;
        if (i + 1 - runStart < pages) continue;
        const uint32_t address = FindSpace(pages * kPageBytes);
        if (address == 0) return 0;
        const uint32_t first = sorted[runStart];
        Reservation r{pages, std::vector<uint32_t>(pages), std::vector<uint32_t>(pages, 0)};
        for (uint32_t p = 0; p < pages; ++p) r.physicalPage[p] = first + p;
        std::erase_if(free_, [&](uint32_t page) { return page >= first && page < first + pages; });
        reservations_[address] = std::move(r);
        committed_ += pages;
        return address;
    }
    return 0;
}

bool PageAllocator::Decommit(uint32_t address, uint32_t size) {
    std::lock_guard lock(mutex_);
    PageSpan span = Covering(address, size);
    Reservation* r = span.reservation;
    auto unlocked = [r](uint32_t p) { return r->lockCount[p] == 0; };
    if (!r || !EveryPage(span, unlocked)) return false;
    for (uint32_t p = span.first; p < span.last; ++p) {
        if (r->physicalPage[p] == kNoPage) continue;
        free_.push_back(r->physicalPage[p]);
        r->physicalPage[p] = kNoPage;
        --committed_;
    }
    return true;
}

bool PageAllocator::Release(uint32_t address) {
    std::lock_guard lock(mutex_);
    auto it = reservations_.find(address);
    if (it == reservations_.end()) return false;
    Reservation& r = it->second;
    for (uint32_t count : r.lockCount)
        if (count != 0) return false;
    for (uint32_t page : r.physicalPage) {
        if (page == kNoPage) continue;
        free_.push_back(page);
        --committed_;
    }
    reservations_.erase(it);
    return true;
}

bool PageAllocator::Lock(uint32_t address, uint32_t size, uint32_t* physicalOut) {
    std::lock_guard lock(mutex_);
    PageSpan span = Covering(address, size);
    Reservation* r = span.reservation;
    auto committed = [r](uint32_t p) { return r->physicalPage[p] != kNoPage; };
    if (!r || !EveryPage(span, committed)) return false;
    for (uint32_t p = span.first; p < span.last; ++p) {
        ++r->lockCount[p];
        if (!physicalOut) continue;
        physicalOut[p - span.first] = physicalBase_ + r->physicalPage[p] * kPageBytes;
    }
    return true;
}

bool PageAllocator::Unlock(uint32_t address, uint32_t size) {
    std::lock_guard lock(mutex_);
    PageSpan span = Covering(address, size);
    Reservation* r = span.reservation;
    auto locked = [r](uint32_t p) { return r->lockCount[p] != 0; };
    if (!r || !EveryPage(span, locked)) return false;
    for (uint32_t p = span.first; p < span.last; ++p) --r->lockCount[p];
    return true;
}

uint32_t PageAllocator::PhysicalAddress(uint32_t address) const {
    std::lock_guard lock(mutex_);
    uint32_t first = 0;
    const Reservation* r = Owning(address, 1, first);
    if (!r || r->physicalPage[first] == kNoPage) return 0;
    return physicalBase_ + r->physicalPage[first] * kPageBytes + address % kPageBytes;
}

void PageAllocator::SetFragmentation(bool on, uint32_t seed) {
    std::lock_guard lock(mutex_);
    fragmented_ = on;
    seed_ = seed;
    RebuildFreeOrder();
}

void PageAllocator::SetPageLimit(uint32_t pages) {
    std::lock_guard lock(mutex_);
    pageLimit_ = std::min(pages, usablePages_);
}

uint32_t PageAllocator::CommittedPages() const {
    std::lock_guard lock(mutex_);
    return committed_;
}

uint32_t PageAllocator::FreePages() const {
    std::lock_guard lock(mutex_);
    return uint32_t(free_.size());
}

void PageAllocator::Reset() {
    std::lock_guard lock(mutex_);
    reservations_.clear();
    committed_ = 0;
    RebuildFreeOrder();
}

}  // namespace tova::hw
