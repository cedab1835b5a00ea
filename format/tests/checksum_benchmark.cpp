// Throughput of the segment checksum over a segment-sized buffer (one pass, two byte
// operations per byte), beside a plain copy of the same bytes: the memory's bandwidth.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "format/segment_checksum.h"

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

static void BM_PlainCopyOfTheSameBytes(benchmark::State& state) {
    std::vector<uint8_t> segment(size_t(state.range(0)), 0x5A), target(segment.size());
    for (auto _ : state) {
        std::memcpy(target.data(), segment.data(), segment.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_PlainCopyOfTheSameBytes)->Arg(0x80000)->Arg(0x380000);
