// The datasheet's command sequences for two x16 chips on a 32-bit bus, driven through the
// bus the way a flash driver would: every command is written to both chips at once.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tova/hw/bus.h"

namespace tova::hw::test {

inline constexpr uint32_t kFlashBase = 0xA0000000;
inline constexpr uint32_t kBothReady = 0x00800080;

// A command byte in both halves of the bus word.
constexpr uint32_t Both(uint16_t command) { return uint32_t(command) | uint32_t(command) << 16; }

inline void ReadArrayMode(Bus& bus, uint32_t address) { bus.Write32(address, Both(0xFF)); }
inline void ClearStatus(Bus& bus, uint32_t address) { bus.Write32(address, Both(0x50)); }

// Polls until both chips report ready (at most `limit` reads); returns the last status word.
inline uint32_t WaitReady(Bus& bus, uint32_t address, uint32_t limit = 1000) {
    uint32_t status = 0;
    for (uint32_t i = 0; i < limit; ++i) {
        status = bus.Read32(address);
        if ((status & kBothReady) == kBothReady) return status;
    }
    ADD_FAILURE() << "flash not ready after " << limit << " polls, status 0x" << std::hex << status;
    return status;
}

inline uint32_t ReadStatus(Bus& bus, uint32_t address) {
    bus.Write32(address, Both(0x70));
    return WaitReady(bus, address);
}

// Block erase and confirm; returns the status once both chips are ready.
inline uint32_t BlockErase(Bus& bus, uint32_t address, uint32_t confirm = Both(0xD0)) {
    bus.Write32(address, Both(0x20));
    bus.Write32(address, confirm);
    return WaitReady(bus, address);
}

// Write to buffer: request (waiting for the buffer), count, the words, confirm. Returns the
// status once both chips are ready, or the extended status when no buffer came.
inline uint32_t WriteToBuffer(Bus& bus, uint32_t address, const std::vector<uint32_t>& words,
                              uint32_t confirm = Both(0xD0)) {
    uint32_t extended = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        bus.Write32(address, Both(0xE8));
        extended = bus.Read32(address);
        if ((extended & kBothReady) == kBothReady) break;
    }
    if ((extended & kBothReady) != kBothReady) return extended;
    uint32_t count = uint32_t(words.size() - 1);
    bus.Write32(address, count | count << 16);
    for (size_t i = 0; i < words.size(); ++i) bus.Write32(address + uint32_t(i) * 4, words[i]);
    bus.Write32(address, confirm);
    return WaitReady(bus, address);
}

inline uint32_t WordProgram(Bus& bus, uint32_t address, uint32_t value, uint16_t setup = 0x40) {
    bus.Write32(address, Both(setup));
    bus.Write32(address, value);
    return WaitReady(bus, address);
}

inline uint32_t SetBlockLock(Bus& bus, uint32_t blockAddress) {
    bus.Write32(blockAddress, Both(0x60));
    bus.Write32(blockAddress, Both(0x01));
    return WaitReady(bus, blockAddress);
}

inline uint32_t ClearBlockLocks(Bus& bus, uint32_t address) {
    bus.Write32(address, Both(0x60));
    bus.Write32(address, Both(0xD0));
    return WaitReady(bus, address);
}

// Read identifier, then the identifier word `word` (a 32-bit bus word: both chips) counted
// from `blockAddress`.
inline uint32_t ReadIdentifier(Bus& bus, uint32_t blockAddress, uint32_t word) {
    bus.Write32(blockAddress, Both(0x90));
    return bus.Read32(blockAddress + word * 4);
}

}  // namespace tova::hw::test
