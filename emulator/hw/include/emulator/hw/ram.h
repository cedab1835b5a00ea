// The handheld's SDRAM: 64 MiB (advanced) or 32 MiB (basic) at physical 0xA0000000, seen by
// the kernel cached at 0x84000000 and uncached at 0xA4000000. Plain memory: every access
// width works, and the bus hands out host pointers into it.
//
// Bus accesses are atomic per access (relaxed), so that device threads and the machine may
// touch the same words without a data race; HostMemory pointers are plain memory.
#pragma once

#include <cstdint>

#include "emulator/hw/bus.h"
#include "emulator/hw/page_allocator.h"

namespace tova::hw {

class Ram : public BusDevice {
public:
    // `bytes` must be a non-zero multiple of 4096. Content starts zeroed.
    explicit Ram(uint32_t bytes);
    ~Ram() override;
    Ram(const Ram&) = delete;
    Ram& operator=(const Ram&) = delete;

    uint32_t Read(uint32_t offset, unsigned width) override;
    void Write(uint32_t offset, uint32_t value, unsigned width) override;
    uint8_t* HostMemory(uint32_t offset, uint32_t length) override;

    uint32_t Size() const { return bytes_; }
    uint8_t* Data() { return reinterpret_cast<uint8_t*>(words_); }
    const uint8_t* Data() const { return reinterpret_cast<const uint8_t*>(words_); }
    // Zeroes everything (what a power cut leaves). Not for use while guest threads run.
    void Clear();

private:
    uint32_t bytes_;
    uint32_t* words_;  // mapped anonymous memory: untouched pages cost nothing
};

}  // namespace tova::hw
