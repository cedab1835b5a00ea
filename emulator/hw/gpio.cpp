#include "emulator/hw/gpio.h"

#include <stdexcept>
#include <string>

namespace tova::hw {
namespace {

using namespace gpio_reg;

constexpr uint32_t kBankMask[3] = {0xFFFFFFFF, 0xFFFFFFFF, (1u << (kGpioPinCount - 64)) - 1};

void CheckPin(uint32_t pin) {
    if (pin >= kGpioPinCount) throw std::out_of_range("GPIO pin " + std::to_string(pin) + " does not exist");
}

bool IsRegister(uint32_t offset) { return offset % 4 == 0 && offset <= kGAFR2_U; }

}  // namespace

Gpio::Gpio() = default;

void Gpio::Reset() {
    std::lock_guard lock(mutex_);
    std::array<uint32_t, 3> input = state_.input;
    state_ = State{};
    state_.input = input;
}

uint32_t Gpio::LevelBank(unsigned bank) const {
    uint32_t out = state_.direction[bank];
    return ((state_.latch[bank] & out) | (state_.input[bank] & ~out)) & kBankMask[bank];
}

uint32_t Gpio::RegisterLocked(uint32_t offset) const {
    unsigned bank = (offset % 0xC) / 4;
    if (offset >= kGAFR0_L) return state_.alternate[(offset - kGAFR0_L) / 4];
    switch (offset - bank * 4) {
        case kGPLR0: return LevelBank(bank);
        case kGPDR0: return state_.direction[bank];
        case kGPSR0:
        case kGPCR0: return 0;  // write-only
        case kGRER0: return state_.risingEnable[bank];
        case kGFER0: return state_.fallingEnable[bank];
        case kGEDR0: return state_.edges[bank];
    }
    return 0;
}

uint32_t Gpio::Read(uint32_t offset, unsigned width) {
    if (width != 4 || !IsRegister(offset)) {
        ReportGuestError(GuestErrorKind::kDeviceAccess, false, offset, width, 0,
                         width != 4 ? "GPIO registers take 32-bit accesses only" : "no GPIO register here");
        return 0;
    }
    std::lock_guard lock(mutex_);
    return RegisterLocked(offset);
}

void Gpio::Write(uint32_t offset, uint32_t value, unsigned width) {
    if (width != 4 || !IsRegister(offset)) {
        ReportGuestError(GuestErrorKind::kDeviceAccess, true, offset, width, value,
                         width != 4 ? "GPIO registers take 32-bit accesses only" : "no GPIO register here");
        return;
    }
    std::vector<std::function<void()>> listeners;
    {
        std::lock_guard lock(mutex_);
        writes_.push_back(GpioWrite{offset, value});
        bool wasDriven = ResetLineDriven();
        std::array<uint32_t, 3> before{LevelBank(0), LevelBank(1), LevelBank(2)};
        unsigned bank = (offset % 0xC) / 4;
        uint32_t bits = value & kBankMask[bank];
        if (offset >= kGAFR0_L) {
            state_.alternate[(offset - kGAFR0_L) / 4] = value;
        } else {
            switch (offset - bank * 4) {
                case kGPLR0: break;  // levels are read-only
                case kGPDR0: state_.direction[bank] = bits; break;
                case kGPSR0: state_.latch[bank] |= bits; break;
                case kGPCR0: state_.latch[bank] &= ~bits; break;
                case kGRER0: state_.risingEnable[bank] = bits; break;
                case kGFER0: state_.fallingEnable[bank] = bits; break;
                case kGEDR0: state_.edges[bank] &= ~bits; break;
            }
        }
        DetectEdges(before);
        if (!wasDriven && ResetLineDriven()) listeners = resetListeners_;
    }
    for (auto& listener : listeners) listener();
}

void Gpio::DetectEdges(const std::array<uint32_t, 3>& before) {
    for (unsigned bank = 0; bank < 3; ++bank) {
        uint32_t now = LevelBank(bank);
        uint32_t rising = now & ~before[bank];
        uint32_t falling = ~now & before[bank];
        state_.edges[bank] |= (rising & state_.risingEnable[bank]) | (falling & state_.fallingEnable[bank]);
    }
}

bool Gpio::ResetLineDriven() const {
    uint32_t mask = 1u << kGpioResetPin;
    return (state_.direction[0] & mask) && !(state_.latch[0] & mask);
}

bool Gpio::Level(uint32_t pin) const {
    CheckPin(pin);
    std::lock_guard lock(mutex_);
    return (LevelBank(pin / 32) >> (pin % 32)) & 1;
}

bool Gpio::IsOutput(uint32_t pin) const {
    CheckPin(pin);
    std::lock_guard lock(mutex_);
    return (state_.direction[pin / 32] >> (pin % 32)) & 1;
}

bool Gpio::OutputLatch(uint32_t pin) const {
    CheckPin(pin);
    std::lock_guard lock(mutex_);
    return (state_.latch[pin / 32] >> (pin % 32)) & 1;
}

void Gpio::SetInputLevel(uint32_t pin, bool high) {
    CheckPin(pin);
    std::lock_guard lock(mutex_);
    std::array<uint32_t, 3> before{LevelBank(0), LevelBank(1), LevelBank(2)};
    uint32_t mask = 1u << (pin % 32);
    if (high)
        state_.input[pin / 32] |= mask;
    else
        state_.input[pin / 32] &= ~mask;
    DetectEdges(before);
}

uint32_t Gpio::Register(uint32_t offset) const {
    if (!IsRegister(offset)) throw std::out_of_range("no GPIO register at offset " + std::to_string(offset));
    std::lock_guard lock(mutex_);
    return RegisterLocked(offset);
}

void Gpio::OnResetLine(std::function<void()> listener) {
    std::lock_guard lock(mutex_);
    resetListeners_.push_back(std::move(listener));
}

std::vector<GpioWrite> Gpio::Writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

void Gpio::ClearWrites() {
    std::lock_guard lock(mutex_);
    writes_.clear();
}

}  // namespace tova::hw
