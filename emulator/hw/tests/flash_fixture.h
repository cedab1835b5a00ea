// A flash model alone on a bus at the uncached flash window.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "flash_sequences.h"
#include "emulator/hw/flash.h"

namespace tova::hw::test {

inline constexpr uint32_t kBlock5 = 5 * kFlashBusBlockBytes;  // bus offset of block 5

class FlashTest : public ::testing::Test {
protected:
    FlashTest() { bus.Map(kFlashBase, kFlashArrayBytes, flash, "flash"); }

    // The array's 32-bit word at a bus offset, read past the state machines.
    uint32_t ArrayWord(uint32_t offset) const {
        std::vector<uint8_t> b = flash.ReadArray(offset, 4);
        return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    }

    // Deterministic, non-trivial bytes (no run of 0xFF), different for each seed.
    static std::vector<uint8_t> Pattern(size_t length, uint32_t seed) {
        std::vector<uint8_t> bytes(length);
        uint32_t x = seed * 2654435761u + 12345;
        for (uint8_t& b : bytes) {
            x = x * 1103515245u + 12345;
            b = uint8_t((x >> 16) % 0xFF);
        }
        return bytes;
    }

    static std::vector<uint32_t> Words(const std::vector<uint8_t>& bytes) {
        std::vector<uint32_t> words(bytes.size() / 4);
        for (size_t i = 0; i < words.size(); ++i)
            words[i] = uint32_t(bytes[4 * i]) | uint32_t(bytes[4 * i + 1]) << 8 |
                       uint32_t(bytes[4 * i + 2]) << 16 | uint32_t(bytes[4 * i + 3]) << 24;
        return words;
    }

    Bus bus;
    FlashModel flash;
};

}  // namespace tova::hw::test
