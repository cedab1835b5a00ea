#include "emulator/arm/guest_call.h"

#include <cstdio>

namespace tova::arm {

namespace {

constexpr unsigned kRegisterArguments = 4;
constexpr int kStackPointer = 13;

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace

void GuestCall::Refuse(uint32_t address, const std::string& what) {
    bad_ = true;
    memory_.Board().Bus().GuestErrors().Record(
        {hw::GuestErrorKind::kGuestCode, false, address, 0, 0, "platform",
         std::string(function_) + ": " + what + " at " + Hex(address) + " is not in guest memory; " +
             "called from " + Hex(cpu_.Register(14))});
}

uint32_t GuestCall::Word(unsigned index) {
    if (index < kRegisterArguments) return cpu_.Register(int(index));
    const uint32_t address = cpu_.Register(kStackPointer) + 4 * (index - kRegisterArguments);
    const uint8_t* at = memory_.Host(address, 4);
    if (!at) {
        Refuse(address, "argument " + std::to_string(index + 1) + " on the stack");
        return 0;
    }
    uint32_t value;
    std::memcpy(&value, at, 4);
    return value;
}

uint8_t* GuestCall::Buffer(unsigned index, uint32_t length) {
    const uint32_t address = Word(index);
    if (address == 0) return nullptr;
    uint8_t* host = memory_.Host(address, length);
    if (!host) Refuse(address, "argument " + std::to_string(index + 1) + " (" + std::to_string(length) + " bytes)");
    return host;
}

std::u16string GuestCall::String(unsigned index, bool* present) {
    const uint32_t address = Word(index);
    *present = address != 0;
    if (address == 0) return {};
    return StringAt(address, ("argument " + std::to_string(index + 1)).c_str());
}

std::u16string GuestCall::StringAt(uint32_t address, const char* what) {
    std::u16string text;
    for (uint32_t unit = 0; unit < kMaxGuestStringUnits; ++unit) {
        const uint8_t* at = memory_.Host(address + 2 * unit, 2);
        if (!at) break;
        char16_t c;
        std::memcpy(&c, at, 2);
        if (c == 0) return text;
        text += c;
    }
    Refuse(address, std::string(what) + " (a string with no end in guest memory)");
    return {};
}

}  // namespace tova::arm
