// Throughput of the segment checksum over a segment-sized buffer: one pass, two byte
// operations per byte.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "service/checksum.h"

static void BM_ChecksumBytes(benchmark::State& state) {
    std::vector<uint8_t> segment(size_t(state.range(0)));
    for (size_t i = 0; i < segment.size(); ++i) segment[i] = uint8_t(i * 131 + 7);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ChecksumBytes(segment.data(), uint32_t(segment.size())));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
// The smallest and the largest segment of a ROM package.
BENCHMARK(BM_ChecksumBytes)->Arg(0x80000)->Arg(0x380000);
