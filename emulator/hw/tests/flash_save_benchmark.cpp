// Saving the flash model after a whole update (every ROM block rewritten) and after a
// change that touched nothing, and loading a whole ROM's file, beside writing the same
// bytes to a file with one write and an fsync: the limit the storage sets.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "shared/segment_table.h"
#include "emulator/hw/flash.h"

namespace {

namespace fs = std::filesystem;
using tova::hw::FlashModel;

constexpr uint32_t kRomOffset = 0x40000;  // the image starts one block into the flash

fs::path Folder() {
    fs::path folder = fs::temp_directory_path() / ("tova_flash_save_bench_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    return folder;
}

std::vector<uint8_t> Rom(uint32_t seed) {
    std::vector<uint8_t> bytes(kPackageSegmentsBytes);
    uint32_t x = seed;
    for (uint8_t& b : bytes) b = uint8_t((x = x * 1103515245u + 12345) >> 24);
    return bytes;
}

void BM_SaveAfterWholeUpdate(benchmark::State& state) {
    fs::path folder = Folder();
    FlashModel flash;
    std::vector<uint8_t> roms[2] = {Rom(1), Rom(2)};
    flash.LoadImage(kRomOffset, roms[0]);
    flash.Save(folder / "flash.img");
    int i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        flash.LoadImage(kRomOffset, roms[++i % 2]);
        state.ResumeTiming();
        flash.Save(folder / "flash.img");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kPackageSegmentsBytes);
    fs::remove_all(folder);
}
BENCHMARK(BM_SaveAfterWholeUpdate)->Unit(benchmark::kMillisecond)->UseRealTime();

// A model holding a whole ROM, saved once to folder/flash.img.
void SaveARom(FlashModel& flash, const fs::path& folder) {
    flash.LoadImage(kRomOffset, Rom(1));
    flash.Save(folder / "flash.img");
}

void BM_SaveWithNothingChanged(benchmark::State& state) {
    fs::path folder = Folder();
    FlashModel flash;
    SaveARom(flash, folder);
    for (auto _ : state) flash.Save(folder / "flash.img");
    fs::remove_all(folder);
}
BENCHMARK(BM_SaveWithNothingChanged)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadAWholeRom(benchmark::State& state) {
    fs::path folder = Folder();
    {
        FlashModel flash;
        SaveARom(flash, folder);
    }
    for (auto _ : state) {
        FlashModel flash;
        flash.Load(folder / "flash.img");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kPackageSegmentsBytes);
    fs::remove_all(folder);
}
BENCHMARK(BM_LoadAWholeRom)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainFileWriteOfTheSameBytes(benchmark::State& state) {
    fs::path folder = Folder();
    std::vector<uint8_t> rom = Rom(1);
    for (auto _ : state) {
        fs::path path = folder / "plain.bin";
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, rom.data(), rom.size()) != ssize_t(rom.size()) || ::fsync(fd) != 0)
            state.SkipWithError("cannot write the plain file");
        if (fd >= 0) ::close(fd);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kPackageSegmentsBytes);
    fs::remove_all(folder);
}
BENCHMARK(BM_PlainFileWriteOfTheSameBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
