// The flash driver on the hardware of the emulated handheld: flash loaded with a known
// image, a source buffer in RAM where the routines read, short poll limits.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "device/flasher/console.h"
#include "device/flasher/flash_driver.h"
#include "handheld.h"
#include "screen_text.h"

namespace flasher_test {

constexpr uint32_t kFlash = 0xA0000000;
constexpr uint32_t kBlock = 0x40000;
constexpr uint32_t kSource = 0x84100000;  // kernel window, 1 MiB into RAM
constexpr uint32_t kTestPollLimit = 200;

inline std::vector<uint8_t> Pattern(uint32_t bytes, uint32_t seed) {
    std::vector<uint8_t> out(bytes);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 16);
    }
    return out;
}

class FlashDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedLimits_ = g_flashPollLimits;
        g_flashPollLimits = {kTestPollLimit, kTestPollLimit};
        g_lastFlashStatus = 0;
        g_clearBase = kDrawingBase;
        ConsoleHome();
        ConsoleClear();
        original_ = Pattern(0x200000, 7);  // the first 2 MiB of flash: blocks 0 to 7
        Flash().LoadImage(0, original_);
        Flash().ClearLog();
    }
    void TearDown() override { g_flashPollLimits = savedLimits_; }

    tova::hw::FlashModel& Flash() { return board_.Flash(); }

    // Puts `bytes` into RAM at kSource (where the flash routines read from).
    std::vector<uint8_t> PlaceSource(uint32_t bytes, uint32_t seed) {
        std::vector<uint8_t> data = Pattern(bytes + 64, seed);
        std::memcpy(board_.Bus().HostPointer(kSource, uint32_t(data.size())), data.data(), data.size());
        return data;
    }

    // What flash should hold after erasing [eraseFrom, eraseTo) and programming `data`
    // at `offset`.
    std::vector<uint8_t> Expected(uint32_t eraseFrom, uint32_t eraseTo, uint32_t offset,
                                  const std::vector<uint8_t>& data, uint32_t programmed) {
        std::vector<uint8_t> expected = original_;
        std::fill(expected.begin() + eraseFrom, expected.begin() + eraseTo, 0xFF);
        std::copy_n(data.begin(), programmed, expected.begin() + offset);
        return expected;
    }

    std::vector<uint8_t> FlashContent() { return Flash().ReadArray(0, uint32_t(original_.size())); }

    // Both chips answer array data through the bus at `address`.
    bool ReadsArray(uint32_t address) {
        uint32_t offset = address - kFlash;
        std::vector<uint8_t> want = Flash().ReadArray(offset, 4);
        uint32_t word;
        std::memcpy(&word, want.data(), 4);
        return board_.Bus().Read32(address) == word;
    }

    size_t Count(tova::hw::FlashOperationKind kind) {
        auto ops = Flash().Operations();
        return size_t(std::count_if(ops.begin(), ops.end(), [&](auto& o) { return o.kind == kind; }));
    }

    std::string Marks() { return LineText(board_.Display().Frame(1), 0, kMessageColour); }

    BoardUnderTest board_;
    std::vector<uint8_t> original_;
    FlashPollLimits savedLimits_{};
};

}  // namespace flasher_test
