#include "emulator/hw/board.h"

namespace tova::hw {

Board::Board(const ModelAddresses& model)
    : model_(model),
      ram_(model.ramBytes),
      pages_(model.ramBytes, kRamPhysical),
      memoryController_(kMemoryControllerBytes),
      displayController_(kDisplayControllerBytes),
      quietenBeforeFlashing_(kQuietenRegistersBytes),
      quietenHardware_(kQuietenRegistersBytes) {
    // The firmware leaves the display controller pointing at the frame the screen shows.
    displayController_.SetPowerOnValue(kDisplayScreenBaseWord, kDisplayScreenBasePowerOn);

    bus_.Map(kFlashCachedWindow, kFlashArrayBytes, flash_, "flash (cached)");
    bus_.Map(kFlashUncachedWindow, kFlashArrayBytes, flash_, "flash");
    bus_.Map(kRamCachedWindow, model.ramBytes, ram_, "RAM (cached)");
    bus_.Map(kRamUncachedWindow, model.ramBytes, ram_, "RAM");
    bus_.Map(kMemoryControllerBase, kMemoryControllerBytes, memoryController_, "memory controller");
    bus_.Map(kQuietenBeforeFlashingRegisters, kQuietenRegistersBytes, quietenBeforeFlashing_,
             "registers quietened before flashing");
    bus_.Map(kGpioBase, kGpioBlockBytes, gpio_, "GPIO");
    bus_.Map(kQuietenHardwareRegisters, kQuietenRegistersBytes, quietenHardware_,
             "registers quietened at the flasher's start");
    bus_.Map(kFrameBase[0], kFrameBytes, display_.Frame(0), "display frame 0");
    bus_.Map(kDisplayControllerBase, kDisplayControllerBytes, displayController_, "display controller");
    bus_.Map(kFrameBase[1], kFrameBytes, display_.Frame(1), "display frame 1");
}

RecordedRegisters* Board::RegistersAt(uint32_t address) {
    const BusWindow* window = bus_.WindowAt(address);
    if (!window) return nullptr;
    for (RecordedRegisters* block : {&memoryController_, &displayController_, &quietenBeforeFlashing_,
                                     &quietenHardware_})
        if (window->device == block) return block;
    return nullptr;
}

void Board::Reset() {
    flash_.Reset();
    gpio_.Reset();
    memoryController_.Reset();
    displayController_.Reset();
    quietenBeforeFlashing_.Reset();
    quietenHardware_.Reset();
    pages_.Reset();
}

}  // namespace tova::hw
