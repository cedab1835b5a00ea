#include "emulator/arm/guest_heap.h"

namespace tova::arm {

namespace {

// No single block larger than the larger model's RAM, as on the host's local heap.
constexpr uint32_t kLargestBlock = 64u << 20;

}  // namespace

uint32_t GuestHeap::Allocate(uint32_t bytes) {
    if (bytes > kLargestBlock) return 0;
    auto block = memory_.Allocate(bytes == 0 ? 1 : bytes);
    if (!block) return 0;
    const uint32_t address = block->Address();
    std::lock_guard lock(mutex_);
    live_[address] = Block{std::move(block), bytes};
    return address;
}

bool GuestHeap::Free(uint32_t address) {
    std::unique_ptr<GuestBlock> released;
    std::lock_guard lock(mutex_);
    auto it = live_.find(address);
    if (it == live_.end()) return false;
    released = std::move(it->second.memory);
    live_.erase(it);
    return true;
}

bool GuestHeap::IsLive(uint32_t address) const {
    std::lock_guard lock(mutex_);
    return live_.count(address) != 0;
}

uint32_t GuestHeap::BlockBytes(uint32_t address) const {
    std::lock_guard lock(mutex_);
    auto it = live_.find(address);
    return it == live_.end() ? 0 : it->second.bytes;
}

size_t GuestHeap::Outstanding() const {
    std::lock_guard lock(mutex_);
    return live_.size();
}

}  // namespace tova::arm
