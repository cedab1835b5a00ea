// The processor's GPIO unit (PXA25x layout) at 0xA9000000: 85 pins, three 32-bit banks.
//   0x00 0x04 0x08  GPLR0-2  pin levels (read only)
//   0x0C 0x10 0x14  GPDR0-2  directions (1 = output)
//   0x18 0x1C 0x20  GPSR0-2  set output latches (write 1; read as 0)
//   0x24 0x28 0x2C  GPCR0-2  clear output latches (write 1; read as 0)
//   0x30 0x34 0x38  GRER0-2  rising-edge detect enable
//   0x3C 0x40 0x44  GFER0-2  falling-edge detect enable
//   0x48 0x4C 0x50  GEDR0-2  edge detected (write 1 to clear)
//   0x54 .. 0x68    GAFR0_L .. GAFR2_U  alternate functions
// Registers are 32 bits wide; other widths are guest errors. Every write is logged in order.
// Pin 21 is wired to the handheld's reset: when it becomes an output driven low the reset
// listeners run (on the writing thread, outside the unit's lock).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "emulator/hw/bus.h"

namespace tova::hw {

inline constexpr uint32_t kGpioPinCount = 85;
inline constexpr uint32_t kGpioResetPin = 21;
inline constexpr uint32_t kGpioBlockBytes = 0x1000;

namespace gpio_reg {
inline constexpr uint32_t kGPLR0 = 0x00;
inline constexpr uint32_t kGPDR0 = 0x0C;
inline constexpr uint32_t kGPSR0 = 0x18;
inline constexpr uint32_t kGPCR0 = 0x24;
inline constexpr uint32_t kGRER0 = 0x30;
inline constexpr uint32_t kGFER0 = 0x3C;
inline constexpr uint32_t kGEDR0 = 0x48;
inline constexpr uint32_t kGAFR0_L = 0x54;
inline constexpr uint32_t kGAFR2_U = 0x68;
}  // namespace gpio_reg

struct GpioWrite {
    uint32_t offset;
    uint32_t value;
};

class Gpio : public BusDevice {
public:
    Gpio();

    uint32_t Read(uint32_t offset, unsigned width) override;
    void Write(uint32_t offset, uint32_t value, unsigned width) override;

    // Power-on state: every pin an input, latches low, edge detection off, no edges
    // recorded, alternate functions 0. Input levels (the outside world) and the write log
    // are kept.
    void Reset();

    bool Level(uint32_t pin) const;
    bool IsOutput(uint32_t pin) const;
    bool OutputLatch(uint32_t pin) const;
    // What the outside world drives on an input pin.
    void SetInputLevel(uint32_t pin, bool high);
    uint32_t Register(uint32_t offset) const;  // as a 32-bit read would see it

    void OnResetLine(std::function<void()> listener);

    std::vector<GpioWrite> Writes() const;
    void ClearWrites();

private:
    struct State {
        std::array<uint32_t, 3> direction{};
        std::array<uint32_t, 3> latch{};
        std::array<uint32_t, 3> input{};
        std::array<uint32_t, 3> risingEnable{};
        std::array<uint32_t, 3> fallingEnable{};
        std::array<uint32_t, 3> edges{};
        std::array<uint32_t, 6> alternate{};
    };

    uint32_t LevelBank(unsigned bank) const;
    uint32_t RegisterLocked(uint32_t offset) const;
    void DetectEdges(const std::array<uint32_t, 3>& before);
    bool ResetLineDriven() const;

    mutable std::mutex mutex_;
    State state_;
    std::vector<GpioWrite> writes_;
    std::vector<std::function<void()>> resetListeners_;
};

}  // namespace tova::hw
