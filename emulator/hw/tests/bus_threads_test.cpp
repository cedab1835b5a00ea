// Several threads on one board at once, as the flasher thread, link-server threads and the
// control thread are: no lost updates, no torn device state.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "flash_sequences.h"
#include "emulator/hw/board.h"

namespace tova::hw::test {
namespace {

TEST(BusThreadsTest, ByteWritesFromFourThreadsIntoTheSameWordsAreNotLost) {
    Board board(kBasicModel);
    constexpr uint32_t kWords = 4096;
    std::vector<std::thread> threads;
    for (uint32_t lane = 0; lane < 4; ++lane) {
        threads.emplace_back([&board, lane] {
            // Half through the cached window, half through the uncached one.
            for (int round = 0; round < 4; ++round)
                for (uint32_t w = 0; w < kWords; ++w) {
                    uint32_t base = (w % 2) ? kRamCachedBase : kRamUncachedBase;
                    board.Bus().Write8(base + 4 * w + lane, uint8_t(0x10 * lane + round));
                }
        });
    }
    for (auto& t : threads) t.join();
    for (uint32_t w = 0; w < kWords; ++w) ASSERT_EQ(board.Bus().Read32(kRamUncachedBase + 4 * w), 0x33231303u) << w;
}

TEST(BusThreadsTest, FlashProgrammedWhileOthersInspectAndDrawAndReset) {
    Board board(kAdvancedModel);
    Bus& bus = board.Bus();
    std::atomic<bool> done = false;
    std::atomic<int> resets = 0;
    board.Gpio().OnResetLine([&] { ++resets; });

    std::thread flasher([&] {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t at = 0xA0040000 + 64 * i;
            WriteToBuffer(bus, at, std::vector<uint32_t>(16, 0x01010101u * (i & 0x7F)));
            ReadArrayMode(bus, at);
        }
        done = true;
    });
    std::thread control([&] {
        while (!done) {
            (void)board.Flash().Operations();
            (void)board.Flash().ReadArray(0x40000, 64);
            (void)board.Display().Screen().Pixels();
            (void)board.Gpio().Level(21);
        }
    });
    std::thread console([&] {
        for (uint32_t i = 0; i < 2000; ++i) bus.Write16(0xBE042000 + 2 * (i % 38400), uint16_t(i));
        bus.Write32(0xA9000024, 0x00200000);
        bus.Write32(0xA900000C, 0x00200000);
    });
    flasher.join();
    control.join();
    console.join();

    EXPECT_EQ(resets, 1);
    EXPECT_EQ(board.Flash().BufferedWrites().size(), 512u);
    for (uint32_t i = 0; i < 256; i += 51)
        EXPECT_EQ(board.Flash().ReadArray(0x40000 + 64 * i, 4), std::vector<uint8_t>(4, uint8_t(i & 0x7F)));
    EXPECT_EQ(bus.GuestErrors().Count(), 0u);
}

}  // namespace
}  // namespace tova::hw::test
