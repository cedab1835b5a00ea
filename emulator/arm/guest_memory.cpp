#include "emulator/arm/guest_memory.h"

#include <cstring>

namespace tova::arm {

namespace {

bool Inside(uint32_t window, uint32_t windowBytes, uint32_t address, uint32_t length) {
    return address >= window && length <= windowBytes && address - window <= windowBytes - length;
}

}  // namespace

uint8_t* GuestMemory::Host(uint32_t address, uint32_t length) const {
    hw::Ram& ram = board_.Ram();
    for (uint32_t window : {hw::kRamCachedWindow, hw::kRamUncachedWindow})
        if (Inside(window, ram.Size(), address, length)) return ram.Data() + (address - window);
    return nullptr;
}

uint32_t GuestMemory::GuestAddress(const void* host) const {
    const hw::Ram& ram = board_.Ram();
    auto* byte = static_cast<const uint8_t*>(host);
    if (byte < ram.Data() || byte >= ram.Data() + ram.Size()) return 0;
    return hw::kRamCachedWindow + uint32_t(byte - ram.Data());
}

std::unique_ptr<GuestBlock> GuestMemory::Allocate(uint32_t bytes) {
    hw::PageAllocator& pages = board_.Pages();
    const uint32_t processAddress = pages.AllocateContiguous(bytes);
    if (processAddress == 0) return nullptr;
    const uint32_t size = (bytes + hw::kPageBytes - 1) / hw::kPageBytes * hw::kPageBytes;
    const uint32_t physical = pages.PhysicalAddress(processAddress);
    if (!pages.Lock(processAddress, size, nullptr)) {
        pages.Release(processAddress);
        return nullptr;
    }
    const uint32_t address = hw::kRamCachedWindow + (physical - hw::kRamPhysical);
    uint8_t* host = Host(address, size);
    std::memset(host, 0, size);
    return std::unique_ptr<GuestBlock>(new GuestBlock(pages, processAddress, address, size, host));
}

GuestBlock::~GuestBlock() {
    // After a reset the allocator has forgotten the block (Unlock fails): then it is not
    // this block's to release.
    if (pages_.Unlock(processAddress_, size_)) pages_.Release(processAddress_);
}

}  // namespace tova::arm
