// Loading the flash model's file from a state folder (the current format or the first). A
// file is either refused with FlashFileError, leaving the model as it was, or taken whole;
// a file that was taken saves to a file that loads back to the same part.
#include <cstdlib>
#include <vector>

#include "scratch_folder.h"
#include "emulator/hw/flash.h"

namespace {

bool SamePart(const tova::hw::FlashModel& a, const tova::hw::FlashModel& b) {
    for (unsigned chip = 0; chip < tova::hw::kFlashChipCount; ++chip)
        for (uint32_t block = 0; block < tova::hw::kFlashBlockCount; ++block)
            if (a.BlockLocked(chip, block) != b.BlockLocked(chip, block)) return false;
    return a.Array() == b.Array();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto file = fuzz::Scratch().Write("flash.img", data, size);
    tova::hw::FlashModel flash;
    const std::vector<uint8_t> mark(64, 0x5A);
    flash.LoadImage(0, mark);
    try {
        flash.Load(file);
    } catch (const tova::hw::FlashFileError&) {
        // A refused file leaves the model as it was, in memory.
        if (flash.ReadArray(0, 64) != mark || !flash.OwnFile().empty()) std::abort();
        return 0;
    }
    auto copy = fuzz::Scratch().Path() / "flash-saved.img";
    flash.Save(copy);
    tova::hw::FlashModel again;
    again.Load(copy);
    if (!SamePart(flash, again)) std::abort();
    return 0;
}
