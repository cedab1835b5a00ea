#include "emulator/hw/registers.h"

#include <stdexcept>
#include <string>

namespace tova::hw {
namespace {

uint32_t LaneMask(uint32_t offset, unsigned width) {
    return width == 4 ? 0xFFFFFFFFu : ((1u << (width * 8)) - 1) << ((offset & 3) * 8);
}

}  // namespace

RecordedRegisters::RecordedRegisters(uint32_t bytes) : words_(bytes / 4, 0) {
    if (bytes == 0 || bytes % 4 != 0)
        throw std::invalid_argument("register block size must be a non-zero multiple of 4");
}

uint32_t RecordedRegisters::Read(uint32_t offset, unsigned width) {
    std::lock_guard lock(mutex_);
    return (words_[offset / 4] & LaneMask(offset, width)) >> ((offset & 3) * 8);
}

void RecordedRegisters::Write(uint32_t offset, uint32_t value, unsigned width) {
    std::lock_guard lock(mutex_);
    uint32_t mask = LaneMask(offset, width);
    uint32_t& word = words_[offset / 4];
    word = (word & ~mask) | ((value << ((offset & 3) * 8)) & mask);
    writes_.push_back(RegisterWrite{offset, value, width});
}

void RecordedRegisters::Reset() {
    std::lock_guard lock(mutex_);
    std::fill(words_.begin(), words_.end(), 0);
    for (auto [index, value] : powerOn_) words_[index] = value;
}

uint32_t RecordedRegisters::Get(uint32_t offset) const {
    if (offset / 4 >= words_.size()) throw std::out_of_range("no register at offset " + std::to_string(offset));
    std::lock_guard lock(mutex_);
    return words_[offset / 4];
}

void RecordedRegisters::Set(uint32_t offset, uint32_t value) {
    if (offset / 4 >= words_.size()) throw std::out_of_range("no register at offset " + std::to_string(offset));
    std::lock_guard lock(mutex_);
    words_[offset / 4] = value;
}

void RecordedRegisters::SetPowerOnValue(uint32_t offset, uint32_t value) {
    if (offset / 4 >= words_.size()) throw std::out_of_range("no register at offset " + std::to_string(offset));
    std::lock_guard lock(mutex_);
    powerOn_[offset / 4] = value;
    words_[offset / 4] = value;
}

std::vector<RegisterWrite> RecordedRegisters::Writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

void RecordedRegisters::ClearWrites() {
    std::lock_guard lock(mutex_);
    writes_.clear();
}

}  // namespace tova::hw
