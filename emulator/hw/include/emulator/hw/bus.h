// The handheld's 32-bit physical bus as its kernel sees it: the statically mapped virtual
// windows above 0x80000000, each backed by a device. One device may sit behind several
// windows (flash cached at 0x80000000 and uncached at 0xA0000000).
//
// Accesses are 1, 2 or 4 bytes wide, little-endian. A misaligned access is logged and
// carried out at the address rounded down to its width (as the processor's stores do);
// an access to no device is logged, reads 0 and writes nothing.
//
// Thread-safe: devices guard their own state. The window table is read on every access and
// changed only while the board is put together, so an access reads it without a lock: a
// change publishes a new table and keeps the old ones for accesses still looking at them.
#pragma once

#include <cstdint>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/hw/guest_error.h"

namespace tova::hw {

class BusDevice {
public:
    virtual ~BusDevice() = default;
    // `offset` is from the start of the window the access came through; `width` is 1, 2 or
    // 4 and the offset is a multiple of it.
    virtual uint32_t Read(uint32_t offset, unsigned width) = 0;
    virtual void Write(uint32_t offset, uint32_t value, unsigned width) = 0;
    // Host memory behind [offset, offset + length) for devices that are plain RAM; null
    // for everything else.
    virtual uint8_t* HostMemory(uint32_t offset, uint32_t length) { return nullptr; }

    // The bus attaches its error log when the device is mapped.
    void AttachGuestErrorLog(GuestErrorLog* log) { guestErrors_ = log; }

protected:
    // For a device to report an access it refuses. Inside a bus access the bus address and
    // window name are filled in; outside one (a direct call) `offset` stands as the address.
    void ReportGuestError(GuestErrorKind kind, bool write, uint32_t offset, unsigned width,
                          uint32_t value, std::string detail);

private:
    GuestErrorLog* guestErrors_ = nullptr;
};

struct BusWindow {
    uint32_t base;
    uint32_t size;
    BusDevice* device;
    std::string name;
};

class Bus {
public:
    // Maps `device` at [base, base + size). Throws std::invalid_argument for an empty
    // window, one that wraps past 4 GiB or one that overlaps a window already mapped.
    void Map(uint32_t base, uint32_t size, BusDevice& device, std::string name);

    uint8_t Read8(uint32_t address);
    uint16_t Read16(uint32_t address);
    uint32_t Read32(uint32_t address);
    void Write8(uint32_t address, uint8_t value);
    void Write16(uint32_t address, uint16_t value);
    void Write32(uint32_t address, uint32_t value);

    uint32_t Read(uint32_t address, unsigned width);
    void Write(uint32_t address, uint32_t value, unsigned width);

    // Host pointer to `length` bytes at `address` when the whole range lies in one RAM
    // window; null otherwise (flash, registers, display, unmapped, straddling windows).
    void* HostPointer(uint32_t address, uint32_t length);

    // The window holding `address`, or null.
    const BusWindow* WindowAt(uint32_t address) const;
    std::vector<BusWindow> Windows() const;

    GuestErrorLog& GuestErrors() { return guestErrors_; }

private:
    using WindowTable = std::vector<BusWindow>;  // sorted by base

    bool Check(uint32_t& address, unsigned width, bool write, uint32_t value);
    [[gnu::cold]] bool CheckIrregular(uint32_t& address, unsigned width, bool write, uint32_t value);
    const BusWindow* Find(uint32_t address) const;
    // Out of the accesses' way: building the record would cost every access its frame.
    [[gnu::cold, gnu::noinline]] void RecordUnmapped(bool write, uint32_t address, unsigned width, uint32_t value);

    std::mutex mapMutex_;  // one change of the table at a time
    std::vector<std::unique_ptr<const WindowTable>> tables_;  // every one published
    std::atomic<const WindowTable*> windows_{nullptr};
    GuestErrorLog guestErrors_;
};

}  // namespace tova::hw
