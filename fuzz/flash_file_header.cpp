// Loading the flash model's file from a state folder. A file is either refused with
// FlashFileError, leaving the model as it was, or taken whole; a file that was taken saves
// back to the same bytes.
#include <fstream>
#include <iterator>
#include <vector>

#include "scratch_folder.h"
#include "emulator/hw/flash.h"

namespace {

std::vector<uint8_t> ReadBack(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>{std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static tova::hw::FlashModel flash;
    auto file = fuzz::Scratch().Write("flash.img", data, size);
    try {
        flash.Load(file);
    } catch (const tova::hw::FlashFileError&) {
        return 0;
    }
    auto copy = fuzz::Scratch().Path() / "flash-saved.img";
    flash.Save(copy);
    if (ReadBack(copy) != std::vector<uint8_t>(data, data + size)) std::abort();
    return 0;
}
