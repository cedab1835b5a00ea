// Programming the twelve segments of a ROM into the emulated flash, in their flashing order
// and in 1 MiB ranges as the update sequence does, beside a plain copy of the same bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <cstring>
#include <vector>

#include "device/flasher/flash_driver.h"
#include "handheld.h"
#include "shared/flash_map.h"

namespace {

constexpr uint32_t kSourceBase = 0x84100000;  // kernel window, 1 MiB into RAM
constexpr uint32_t kPiece = 0x100000;

struct Placed {
    uint32_t flashAddress;
    uint32_t source;
    uint32_t size;
};

// Puts every segment of the new ROM into RAM and says where, in flashing order.
std::vector<Placed> PlaceSegments(flasher_test::BoardUnderTest& board) {
    std::vector<Placed> placed;
    uint32_t source = kSourceBase;
    for (const FlashSegment& f : kFlashSegmentMap) {
        std::vector<uint8_t> bytes = flasher_test::PackageSegment(f.file);
        std::memcpy(board.Bus().HostPointer(source, uint32_t(bytes.size())), bytes.data(), bytes.size());
        placed.push_back({f.flashAddress, source, uint32_t(bytes.size())});
        source += uint32_t(bytes.size());
    }
    return placed;
}

void ProgramAll(const std::vector<Placed>& segments) {
    for (const Placed& s : segments)
        for (uint32_t offset = 0; offset < s.size; offset += kPiece) {
            uint32_t n = s.size - offset < kPiece ? s.size - offset : kPiece;
            if (FlashProgramRange(s.flashAddress + offset, s.source + offset, n, 0, 0) != kFlashOk)
                throw std::runtime_error("programming failed");
        }
}

double CopySeconds(flasher_test::BoardUnderTest& board, std::vector<uint8_t>& target) {
    const void* from = board.Bus().HostPointer(kSourceBase, kPackageSegmentsBytes);
    auto start = std::chrono::steady_clock::now();
    std::memcpy(target.data(), from, kPackageSegmentsBytes);
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_ProgramTwelveSegments(benchmark::State& state) {
    flasher_test::BoardUnderTest board;
    std::vector<Placed> segments = PlaceSegments(board);
    std::vector<uint8_t> target(kPackageSegmentsBytes);
    double copy = CopySeconds(board, target);  // first touch of the target pages
    for (int i = 0; i < 5; ++i) copy = std::min(copy, CopySeconds(board, target));
    double programming = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        ProgramAll(segments);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        programming += seconds;
        state.SetIterationTime(seconds);
    }
    const double iterations = double(state.iterations());
    state.SetBytesProcessed(int64_t(iterations) * kPackageSegmentsBytes);
    state.counters["flash_MBps"] = kPackageSegmentsBytes / (programming / iterations) / 1e6;
    state.counters["copy_MBps"] = kPackageSegmentsBytes / copy / 1e6;
    state.counters["flash_time_over_copy_time"] = (programming / iterations) / copy;
}
BENCHMARK(BM_ProgramTwelveSegments)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_PlainCopyOfTheSameBytes(benchmark::State& state) {
    flasher_test::BoardUnderTest board;
    PlaceSegments(board);
    std::vector<uint8_t> target(kPackageSegmentsBytes);
    for (auto _ : state) CopySeconds(board, target);
    state.SetBytesProcessed(int64_t(state.iterations()) * kPackageSegmentsBytes);
}
BENCHMARK(BM_PlainCopyOfTheSameBytes)->Unit(benchmark::kMillisecond);

}  // namespace
