#include "emulator/hw/ram.h"

#include <sys/mman.h>

#include <atomic>
#include <bit>
#include <cstring>
#include <new>
#include <stdexcept>

namespace tova::hw {

static_assert(std::endian::native == std::endian::little,
              "the emulated bus is little-endian and RAM is stored host-order");

namespace {

// Mask and shift of a 1- or 2-byte lane inside its 32-bit word.
struct Lane {
    uint32_t mask;
    unsigned shift;
};

Lane LaneOf(uint32_t offset, unsigned width) {
    unsigned shift = (offset & 3) * 8;
    uint32_t mask = width == 4 ? 0xFFFFFFFFu : ((1u << (width * 8)) - 1) << shift;
    return {mask, shift};
}

}  // namespace

Ram::Ram(uint32_t bytes) : bytes_(bytes) {
    if (bytes == 0 || bytes % 4096 != 0)
        throw std::invalid_argument("RAM size must be a non-zero multiple of 4096 bytes");
    void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw std::bad_alloc();
    words_ = static_cast<uint32_t*>(memory);
}

Ram::~Ram() { munmap(words_, bytes_); }

uint32_t Ram::Read(uint32_t offset, unsigned width) {
    std::atomic_ref<uint32_t> word(words_[offset / 4]);
    Lane lane = LaneOf(offset, width);
    return (word.load(std::memory_order_relaxed) & lane.mask) >> lane.shift;
}

void Ram::Write(uint32_t offset, uint32_t value, unsigned width) {
    std::atomic_ref<uint32_t> word(words_[offset / 4]);
    if (width == 4) {
        word.store(value, std::memory_order_relaxed);
        return;
    }
    Lane lane = LaneOf(offset, width);
    uint32_t bits = (value << lane.shift) & lane.mask;
    uint32_t old = word.load(std::memory_order_relaxed);
    while (!word.compare_exchange_weak(old, (old & ~lane.mask) | bits, std::memory_order_relaxed)) {
    }
}

uint8_t* Ram::HostMemory(uint32_t offset, uint32_t length) {
    if (offset > bytes_ || length > bytes_ - offset) return nullptr;
    return Data() + offset;
}

void Ram::Clear() {
    // Hands the pages back: they read as zero again and cost nothing until touched.
    if (madvise(words_, bytes_, MADV_DONTNEED) != 0) std::memset(words_, 0, bytes_);
}

}  // namespace tova::hw
