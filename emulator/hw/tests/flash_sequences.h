// The datasheet's command sequences for two x16 chips on a 32-bit bus, driven through the
// bus the way a flash driver would: every command is written to both chips at once.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "shared/flash_map.h"
#include "emulator/hw/bus.h"

namespace tova::hw::test {

inline constexpr uint32_t kFlashBase = kFlashStart;

// A command byte in both halves of the bus word.
constexpr uint32_t Both(uint16_t command) { return uint32_t(command) | uint32_t(command) << 16; }
// One chip's half of the bus word: chip 0 drives the low half, chip 1 the high half.
constexpr uint32_t OnChip(unsigned chip, uint16_t bits) { return uint32_t(bits) << (16 * chip); }

// Status register bits of one chip.
inline constexpr uint16_t kStatusReady = 0x80;
inline constexpr uint16_t kStatusEraseError = 0x20;
inline constexpr uint16_t kStatusProgramError = 0x10;
inline constexpr uint16_t kStatusLocked = 0x02;
inline constexpr uint32_t kBothReady = Both(kStatusReady);

// The datasheet's command words as a driver writes them to both chips. Tests of the
// flasher's driver hold its command log against these, not against the driver's own names.
inline constexpr uint32_t kReadArray = Both(0xFF);
inline constexpr uint32_t kReadStatus = Both(0x70);
inline constexpr uint32_t kClearStatus = Both(0x50);
inline constexpr uint32_t kReadIdentifier = Both(0x90);
inline constexpr uint32_t kBlockErase = Both(0x20);
inline constexpr uint32_t kConfirm = Both(0xD0);  // erase, buffer and clear-locks confirm
inline constexpr uint32_t kWriteToBuffer = Both(0xE8);
inline constexpr uint32_t kWordProgram = Both(0x40);
inline constexpr uint32_t kLockSetup = Both(0x60);
inline constexpr uint32_t kSetLockBit = Both(0x01);  // after kLockSetup
// The count word of a write to buffer: words - 1 in each chip.
constexpr uint32_t BufferCount(uint16_t wordsPerChip) { return Both(uint16_t(wordsPerChip - 1)); }

inline void ReadArrayMode(Bus& bus, uint32_t address) { bus.Write32(address, kReadArray); }
inline void ClearStatus(Bus& bus, uint32_t address) { bus.Write32(address, kClearStatus); }

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
    bus.Write32(address, kReadStatus);
    return WaitReady(bus, address);
}

// Block erase and confirm; returns the status once both chips are ready.
inline uint32_t BlockErase(Bus& bus, uint32_t address, uint32_t confirm = kConfirm) {
    bus.Write32(address, kBlockErase);
    bus.Write32(address, confirm);
    return WaitReady(bus, address);
}

// Write to buffer: request (waiting for the buffer), count, the words, confirm. Returns the
// status once both chips are ready, or the extended status when no buffer came.
inline uint32_t WriteToBuffer(Bus& bus, uint32_t address, const std::vector<uint32_t>& words,
                              uint32_t confirm = kConfirm) {
    uint32_t extended = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        bus.Write32(address, kWriteToBuffer);
        extended = bus.Read32(address);
        if ((extended & kBothReady) == kBothReady) break;
    }
    if ((extended & kBothReady) != kBothReady) return extended;
    bus.Write32(address, BufferCount(uint16_t(words.size())));
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
    bus.Write32(blockAddress, kLockSetup);
    bus.Write32(blockAddress, kSetLockBit);
    return WaitReady(bus, blockAddress);
}

inline uint32_t ClearBlockLocks(Bus& bus, uint32_t address) {
    bus.Write32(address, kLockSetup);
    bus.Write32(address, kConfirm);
    return WaitReady(bus, address);
}

// Read identifier, then the identifier word `word` (a 32-bit bus word: both chips) counted
// from `blockAddress`.
inline uint32_t ReadIdentifier(Bus& bus, uint32_t blockAddress, uint32_t word) {
    bus.Write32(blockAddress, kReadIdentifier);
    return bus.Read32(blockAddress + word * 4);
}

}  // namespace tova::hw::test
