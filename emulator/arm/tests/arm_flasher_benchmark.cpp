// The ARM flasher on the emulated CPU: one whole FlasherMain run (banner on the scaled
// clock, segment files read, 27 MiB written through the flash model), side by side with the
// host build's FlasherMain on the same kind of handheld, over a plain copy of the same
// number of bytes.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>

#include "handheld.h"
#include "device/flasher/flash_driver.h"
#include "device/flasher/flasher_main.h"
#include "emulator/arm/arm_module.h"
#include "emulator/arm/guest_heap.h"
#include "emulator/arm/guest_thread.h"
#include "platform/clock/clock.h"
#include "shared/segment_table.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<uint8_t> ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void BM_ArmFlasherMain(benchmark::State& state) {
    const std::vector<uint8_t> module = ReadFile(TOVA_ARM_VELKOR);
    for (auto _ : state) {
        flasher_test::HandheldSession handheld;
        tova::Machine& m = handheld.M();
        handheld.PutPackageSegmentFiles();
        tova::arm::GuestMemory memory(m.Board());
        tova::arm::GuestHeap heap(memory);
        auto thread = std::make_unique<tova::arm::GuestThread>(memory, heap);
        std::string error;
        auto velkor = tova::arm::ArmModule::Load("Velkor.exe", module, memory, &error);
        if (!velkor) {
            state.SkipWithError(error.c_str());
            return;
        }
        tova::SetTimeScale(0.0001);
        const auto start = Clock::now();
        m.RunDeviceCall([&] { thread->Call(velkor->Export("FlasherMain"), {0, 0, 0, 0}); });
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        tova::SetTimeScale(0);
        m.WaitUntilBooted(600000);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kPackageSegmentsBytes);
}
BENCHMARK(BM_ArmFlasherMain)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The same whole run of the host build, in-process as device code.
void BM_HostFlasherMain(benchmark::State& state) {
    for (auto _ : state) {
        flasher_test::HandheldSession handheld;
        tova::Machine& m = handheld.M();
        handheld.PutPackageSegmentFiles();
        flasher_test::ResetFlasherState(kBasicModel);
        g_flashRoutineArea = 0;  // start-up chooses the model's addresses itself
        tova::SetTimeScale(0.0001);
        const auto start = Clock::now();
        m.RunDeviceCall([&] { FlasherMain(nullptr, nullptr, nullptr, 0); });
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        tova::SetTimeScale(0);
        m.WaitUntilBooted(600000);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kPackageSegmentsBytes);
}
BENCHMARK(BM_HostFlasherMain)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_PlainCopyOfTheSameBytes(benchmark::State& state) {
    std::vector<uint8_t> source(kPackageSegmentsBytes, 0x5A), target(kPackageSegmentsBytes);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), target.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kPackageSegmentsBytes);
}
BENCHMARK(BM_PlainCopyOfTheSameBytes)->Unit(benchmark::kMillisecond);

}  // namespace
