// A block of plain 32-bit registers whose meaning the emulator does not model (memory
// controller, display controller words, other registers the flasher writes): reads give
// back what was written, and every write is recorded in order with its width. Sub-word
// writes merge into their word.
#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "emulator/hw/bus.h"

namespace tova::hw {

struct RegisterWrite {
    uint32_t offset;
    uint32_t value;
    unsigned width;
};

class RecordedRegisters : public BusDevice {
public:
    // `bytes` must be a non-zero multiple of 4.
    explicit RecordedRegisters(uint32_t bytes);

    uint32_t Read(uint32_t offset, unsigned width) override;
    void Write(uint32_t offset, uint32_t value, unsigned width) override;

    // Every word back to its power-on value (0 unless SetPowerOnValue said otherwise). The
    // write log is kept.
    void Reset();

    // Host access, not recorded.
    uint32_t Get(uint32_t offset) const;
    void Set(uint32_t offset, uint32_t value);
    // The value the word takes at construction and on Reset; also sets it now.
    void SetPowerOnValue(uint32_t offset, uint32_t value);

    uint32_t Size() const { return static_cast<uint32_t>(words_.size() * 4); }
    std::vector<RegisterWrite> Writes() const;
    void ClearWrites();

private:
    mutable std::mutex mutex_;
    std::vector<uint32_t> words_;
    std::unordered_map<uint32_t, uint32_t> powerOn_;  // word index -> value
    std::vector<RegisterWrite> writes_;
};

}  // namespace tova::hw
