// How fast the flash model takes a driver's buffered writes through the bus, beside a
// plain copy of the same bytes into RAM through the bus.
#include <benchmark/benchmark.h>

#include <vector>

#include "emulator/hw/board.h"

namespace {

using tova::hw::Board;

constexpr uint32_t kBytes = 0x100000;  // one megabyte per iteration
constexpr uint32_t kFlash = 0xA0100000;

uint32_t Both(uint32_t c) { return c | c << 16; }

void WaitReady(tova::hw::Bus& bus, uint32_t at) {
    while ((bus.Read32(at) & 0x00800080) != 0x00800080) {
    }
}

void BM_FlashEraseAndBufferedProgram(benchmark::State& state) {
    Board board(kAdvancedModel);
    tova::hw::Bus& bus = board.Bus();
    for (auto _ : state) {
        for (uint32_t block = 0; block < kBytes; block += 0x40000) {
            bus.Write32(kFlash + block, Both(0x20));
            bus.Write32(kFlash + block, Both(0xD0));
            WaitReady(bus, kFlash + block);
        }
        for (uint32_t o = 0; o < kBytes; o += 64) {
            uint32_t at = kFlash + o;
            bus.Write32(at, Both(0xE8));
            WaitReady(bus, at);
            bus.Write32(at, Both(0x0F));
            for (uint32_t i = 0; i < 16; ++i) bus.Write32(at + 4 * i, o + i);
            bus.Write32(at, Both(0xD0));
            bus.Write32(at, Both(0x70));
            WaitReady(bus, at);
            bus.Write32(at, Both(0xFF));
        }
        board.Flash().ClearLog();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kBytes);
}
BENCHMARK(BM_FlashEraseAndBufferedProgram)->Unit(benchmark::kMillisecond);

void BM_RamCopyThroughTheBus(benchmark::State& state) {
    Board board(kAdvancedModel);
    tova::hw::Bus& bus = board.Bus();
    for (auto _ : state) {
        for (uint32_t o = 0; o < kBytes; o += 4) bus.Write32(0x84100000 + o, o);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kBytes);
}
BENCHMARK(BM_RamCopyThroughTheBus)->Unit(benchmark::kMillisecond);

}  // namespace
