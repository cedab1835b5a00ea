// What `tova-emu view` asks a running handheld through its control channel, besides the
// actions of `set` and `power-cut`: its state as a short list of words ("status") and the
// picture its screen shows as raw pixels ("frame"). Both are answered while the handheld
// runs, without stopping it: the status from a few locked reads, the frame from one copy
// of the display memory.
//
// The status text is one "name value..." line per item, for a program to read:
//   running yes|no
//   state off|booting|booted|dead|resetting
//   ac on|off
//   battery PERCENT            (255: unknown)
//   cable on|off
//   link up|down [ENDPOINT]
//   boots COUNT warm|cold      (the kind of the last boot; cold before the first)
//   rom BUILD                  (0x-prefixed hexadecimal; 0x00000000 without a valid kernel)
//   flash CHIP array|command idle|busy ERASES PROGRAMS LOCKS none|erase|program|lock
//         ERASE_OFFSET PROGRAM_OFFSET
//                              (per chip; counts since the run began, the kind of the last
//                              operation, bus offsets of the last erase and last program)
// Unknown lines are skipped by the reader, so later versions can add some.
//
// The frame is the 240 x 320 screen, 153,600 bytes: each pixel as a little-endian RGB565
// word, row by row from the top-left pixel. A reader takes exactly that size and nothing
// else.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/hw/display.h"
#include "emulator/machine.h"

namespace tova::emu {

struct ActionContext;

inline constexpr char kStatusRequest[] = "status";
inline constexpr char kFrameRequest[] = "frame";
// The largest reply a reader of either request accepts.
inline constexpr size_t kLargestStatusReply = 4096;
inline constexpr size_t kLargestFrameReply = hw::kFrameBytes;

struct FlashChipStatus {
    enum class Last { kNone, kErase, kProgram, kLock };
    bool readArray = true;
    bool busy = false;
    uint64_t erases = 0;
    uint64_t programs = 0;
    uint64_t lockChanges = 0;
    Last last = Last::kNone;
    // Bus offsets from the start of flash (0xA0000000) of the last erase and program.
    uint32_t lastEraseOffset = 0;
    uint32_t lastProgramOffset = 0;

    bool operator==(const FlashChipStatus&) const = default;
};

struct HandheldStatus {
    bool running = false;  // a `tova-emu run` answers for the state folder
    MachineState state = MachineState::kOff;
    bool acOnline = false;
    uint8_t batteryPercent = 0;  // 255 unknown
    bool cableAttached = false;
    bool linkUp = false;
    std::string linkEndpoint;  // "127.0.0.1:4990" while running
    uint32_t boots = 0;
    bool lastBootWarm = false;
    uint32_t romBuild = 0;  // 0 without a valid kernel
    std::array<FlashChipStatus, 2> flash{};

    bool operator==(const HandheldStatus&) const = default;
};

// The status of a handheld (running in this process when context.running).
HandheldStatus ReadHandheldStatus(Machine& machine, const ActionContext& context);
std::string FormatHandheldStatus(const HandheldStatus& status);
// nullopt when a required line is missing or malformed, or the text is too long.
std::optional<HandheldStatus> ParseHandheldStatus(std::string_view text);

// The screen as the frame reply, and back; DecodeFrame takes exactly kFrameBytes.
std::string EncodeFrame(const std::vector<uint16_t>& pixels);
std::optional<std::vector<uint16_t>> DecodeFrame(std::string_view bytes);

}  // namespace tova::emu
