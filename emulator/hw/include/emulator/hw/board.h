// The handheld's board: every hardware model, mapped on one bus at the kernel's fixed
// virtual addresses.
//   0x80000000, 0xA0000000  flash, cached / uncached (32 MiB each)
//   0x84000000, 0xA4000000  RAM, cached / uncached (the model's size)
//   0xA8100000              memory controller (recorded registers)
//   0xA8F00000              registers the flasher quietens just before flashing (recorded)
//   0xA9500000              registers the flasher quietens at its start (recorded)
//   0xA9000000              GPIO (pin 21 is the reset line)
//   0xBE000000, 0xBE042000  display frames 0 and 1 (the screen shows frame 1)
//   0xBE040000              display controller words (recorded; 0xBE0401B0 reads non-zero
//                           after power-on, which says the screen is at 0xBE042000)
#pragma once

#include <cstdint>

#include "shared/configuration.h"
#include "emulator/hw/bus.h"
#include "emulator/hw/display.h"
#include "emulator/hw/flash.h"
#include "emulator/hw/gpio.h"
#include "emulator/hw/page_allocator.h"
#include "emulator/hw/ram.h"
#include "emulator/hw/registers.h"
#include "shared/flash_map.h"

namespace tova::hw {

inline constexpr uint32_t kFlashCachedWindow = kFlashCachedStart;
inline constexpr uint32_t kFlashUncachedWindow = kFlashStart;
inline constexpr uint32_t kRamCachedWindow = kRamCachedBase;
inline constexpr uint32_t kRamUncachedWindow = kRamUncachedBase;
inline constexpr uint32_t kRamPhysical = kRamPhysicalBase;
inline constexpr uint32_t kMemoryControllerBase = 0xA8100000;
inline constexpr uint32_t kMemoryControllerBytes = 0x1000;
inline constexpr uint32_t kGpioBase = 0xA9000000;
// Two blocks whose meaning lies in the handheld's firmware; the flasher clears a word of
// each (+0x04) as it quietens the hardware, at its start and just before flashing.
inline constexpr uint32_t kQuietenBeforeFlashingRegisters = 0xA8F00000;
inline constexpr uint32_t kQuietenHardwareRegisters = 0xA9500000;
inline constexpr uint32_t kQuietenRegistersBytes = 0x1000;
inline constexpr uint32_t kFrameBase[2] = {0xBE000000, 0xBE042000};
inline constexpr uint32_t kDisplayControllerBase = 0xBE040000;
inline constexpr uint32_t kDisplayControllerBytes = 0x2000;
inline constexpr uint32_t kDisplayScreenBaseWord = 0x1B0;  // offset in the display controller
inline constexpr uint32_t kDisplayScreenBasePowerOn = 0x00042000;

class Board {
public:
    explicit Board(const ModelAddresses& model);
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    const ModelAddresses& Model() const { return model_; }
    hw::Bus& Bus() { return bus_; }
    FlashModel& Flash() { return flash_; }
    hw::Ram& Ram() { return ram_; }
    PageAllocator& Pages() { return pages_; }
    hw::Gpio& Gpio() { return gpio_; }
    hw::Display& Display() { return display_; }
    RecordedRegisters& MemoryController() { return memoryController_; }
    RecordedRegisters& DisplayController() { return displayController_; }
    // The recorded register block that holds a bus address, or null.
    RecordedRegisters* RegistersAt(uint32_t address);

    // Hardware reset: flash back to read array, GPIO and registers to power-on state, the
    // processes' page reservations forgotten. RAM content and display memory are kept
    // (clearing RAM is the caller's choice: Ram().Clear()).
    void Reset();

private:
    ModelAddresses model_;
    hw::Bus bus_;
    FlashModel flash_;
    hw::Ram ram_;
    PageAllocator pages_;
    hw::Gpio gpio_;
    hw::Display display_;
    RecordedRegisters memoryController_;
    RecordedRegisters displayController_;
    RecordedRegisters quietenBeforeFlashing_;
    RecordedRegisters quietenHardware_;
};

}  // namespace tova::hw
