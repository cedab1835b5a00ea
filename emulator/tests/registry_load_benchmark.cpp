// Loading a large registry file: 100,000 keys below one parent, each with a value, as a
// handheld's software leaves them. The baseline reads the same file line by line, the
// least any reader of it must do.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "text_escape.h"
#include "emulator/registry.h"

namespace {

namespace fs = std::filesystem;

constexpr int kKeys = 100000;

// Written as the registry's own Save writes it, without building the tree first; removed
// when the program ends.
struct LargeFile {
    fs::path path = fs::temp_directory_path() / ("tova-registry-bench-" + std::to_string(::getpid()) + ".txt");
    LargeFile() {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << "tova-registry 1\nhive 0\nkey " << tova::EscapeName(u"Software") << "\n";
        for (int i = 0; i < kKeys; ++i) {
            std::string n = std::to_string(i);
            out << "key " << tova::EscapeName(u"Software\\Bench\\Key" + std::u16string(n.begin(), n.end())) << "\n"
                << "value " << tova::EscapeName(u"Index") << " 4 "
                << tova::HexBytes(reinterpret_cast<const uint8_t*>(&i), 4) << "\n";
        }
        out << "hive 1\nhive 2\nhive 3\nend\n";
    }
    ~LargeFile() {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
};

fs::path LargeRegistryFile() {
    static const LargeFile file;
    return file.path;
}

void BM_LoadRegistry100000Keys(benchmark::State& state) {
    fs::path file = LargeRegistryFile();
    for (auto _ : state) {
        tova::Registry registry;
        registry.Load(file);
        benchmark::DoNotOptimize(registry.KeyExists(u"Software\\Bench\\Key99999"));
    }
}
BENCHMARK(BM_LoadRegistry100000Keys)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadTheSameFileLineByLine(benchmark::State& state) {
    fs::path file = LargeRegistryFile();
    for (auto _ : state) {
        std::ifstream in(file, std::ios::binary);
        size_t bytes = 0;
        for (std::string line; std::getline(in, line);) bytes += line.size();
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(BM_ReadTheSameFileLineByLine)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
