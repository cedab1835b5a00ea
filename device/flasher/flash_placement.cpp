// Placing the update-path routines in the routine area.
//
// The routines must run from RAM, because while a device is out of read-array mode nothing
// can be fetched from flash. FlashPrepare copies the machine code of each routine (the
// bytes the compiler put in the velkor_flash_routines section, from a routine's entry to
// the next routine's entry) into RAM at the area, back to back in the order EraseBlock,
// EraseRange, WriteBuffer, ProgramRange, and records in g_flashRoutines where each copy
// lies and the entry that runs it; every call between the routines goes through that
// table. On the handheld's CPU the entries are the copies. The host build, which cannot
// execute the handheld's RAM, keeps the entries where the routines were loaded.
#include <cstring>

#include "device/flasher/flash_driver.h"
#include "device/flasher/console.h"
#include "platform/wince/hw.h"
#include "platform/wince/hw_inline.h"

extern "C" {
extern const uint8_t __start_velkor_flash_routines[] __attribute__((visibility("hidden")));
extern const uint8_t __stop_velkor_flash_routines[] __attribute__((visibility("hidden")));
}

uint32_t g_flashRoutineArea = 0;

namespace {

constexpr uint32_t kRoutineCount = 4;
// From the area to the top of RAM.
constexpr uint32_t kRoutineAreaBytes = 0x13FFC;

struct RoutineCode {
    const uint8_t* entry;
    uint32_t bytes;
};

// A routine's code runs from its entry to the next entry in the section, or to its end.
bool MeasureRoutines(const uint8_t* const entries[kRoutineCount], RoutineCode code[kRoutineCount]) {
    const uint8_t* sectionStart = __start_velkor_flash_routines;
    const uint8_t* sectionEnd = __stop_velkor_flash_routines;
    for (uint32_t i = 0; i < kRoutineCount; ++i) {
        if (entries[i] < sectionStart || entries[i] >= sectionEnd) return false;
        const uint8_t* next = sectionEnd;
        for (uint32_t j = 0; j < kRoutineCount; ++j)
            if (entries[j] > entries[i] && entries[j] < next) next = entries[j];
        code[i] = {entries[i], uint32_t(next - entries[i])};
    }
    return true;
}

void CopyToRam(uint32_t address, const uint8_t* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) HwWrite8(address + i, bytes[i]);
}

// The entry of routine i's copy in the area (ARM state: the address itself).
template <typename Routine>
Routine CopyAt(uint32_t i) {
    return reinterpret_cast<Routine>(uintptr_t(g_flashRoutines.areaAddress[i]));
}

}  // namespace

uint32_t FlashPrepare() {
    const uint8_t* const entries[kRoutineCount] = {
        reinterpret_cast<const uint8_t*>(&FlashEraseBlock),
        reinterpret_cast<const uint8_t*>(&FlashEraseRange),
        reinterpret_cast<const uint8_t*>(&FlashWriteBuffer),
        reinterpret_cast<const uint8_t*>(&FlashProgramRange),
    };
    RoutineCode code[kRoutineCount];
    if (!MeasureRoutines(entries, code)) return kFlashNotFixedUp;
    uint32_t total = 0;
    for (const RoutineCode& c : code) total += c.bytes;
    if (total > kRoutineAreaBytes || HwHostPointer(g_flashRoutineArea, total) == nullptr)
        return kFlashNotFixedUp;

    uint32_t address = g_flashRoutineArea;
    for (uint32_t i = 0; i < kRoutineCount; ++i) {
        CopyToRam(address, code[i].entry, code[i].bytes);
        g_flashRoutines.areaAddress[i] = address;
        g_flashRoutines.areaBytes[i] = code[i].bytes;
        address += code[i].bytes;
    }
    if (kHwRunsCopiedCode) {
        g_flashRoutines.eraseBlock = CopyAt<decltype(g_flashRoutines.eraseBlock)>(0);
        g_flashRoutines.eraseRange = CopyAt<decltype(g_flashRoutines.eraseRange)>(1);
        g_flashRoutines.writeBuffer = CopyAt<decltype(g_flashRoutines.writeBuffer)>(2);
        g_flashRoutines.programRange = CopyAt<decltype(g_flashRoutines.programRange)>(3);
    } else {
        g_flashRoutines.eraseBlock = FlashEraseBlock;
        g_flashRoutines.eraseRange = FlashEraseRange;
        g_flashRoutines.writeBuffer = FlashWriteBuffer;
        g_flashRoutines.programRange = FlashProgramRange;
    }
    g_flashRoutines.printMark = ConsolePrintf;
    return kFlashOk;
}

void DisableInterrupts() { HwMaskInterrupts(); }
