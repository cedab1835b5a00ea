// Loading the registry file of a state folder. A file is either refused with StateError or
// taken whole; a registry that was loaded saves to a file that loads and saves back to the
// same text.
#include <fstream>
#include <iterator>
#include <string>

#include "scratch_folder.h"
#include "emulator/registry.h"
#include "emulator/state_error.h"

namespace {

std::string ReadBack(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto file = fuzz::Scratch().Write("registry.txt", data, size);
    tova::Registry registry;
    try {
        registry.Load(file);
    } catch (const tova::StateError&) {
        return 0;
    }
    auto first = fuzz::Scratch().Path() / "registry-1.txt";
    auto second = fuzz::Scratch().Path() / "registry-2.txt";
    registry.Save(first);
    tova::Registry again;
    again.Load(first);  // a file the registry wrote itself must load
    again.Save(second);
    if (ReadBack(first) != ReadBack(second)) std::abort();
    return 0;
}
