// Flash fault knobs given as text, as `tova-emu set STATE fault ...` passes them:
//   busy-before CHIP POLLS|forever     busy-during CHIP POLLS|forever
//   fail-erase CHIP BLOCK [TIMES]      fail-program CHIP OFFSET [TIMES]
//   stuck-bits CHIP OFFSET LOW HIGH    lock-block CHIP BLOCK
//   buffer-unavailable CHIP REQUESTS   power-cut-after OPERATIONS
//   power-cut-in-block BLOCK           clear
// Numbers are decimal or 0x-prefixed hexadecimal; offsets are bus byte offsets from the
// start of flash.
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "machine_impl.h"

namespace tova {

namespace {

// "forever" only where a count may be endless: elsewhere it is no number at all.
bool ParseNumber(const std::string& text, uint64_t max, uint64_t* value) {
    if (text == "forever" && max == hw::kFlashForever) {
        *value = hw::kFlashForever;
        return true;
    }
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > max) return false;
    *value = v;
    return true;
}

}  // namespace

bool MachineImpl::ApplyFlashFault(const std::string& knob, const std::string& args,
                                  std::string* error) {
    std::istringstream in(args);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    std::vector<uint64_t> n(words.size());
    std::string problem;
    // Word i as a number from 0 to max; the first bad one is named in the error.
    auto number = [&](size_t i, uint64_t max, const char* what) {
        if (i < words.size() && ParseNumber(words[i], max, &n[i])) return true;
        if (problem.empty() && i < words.size())
            problem = std::string(what) + " must be " +
                      (max == hw::kFlashForever ? "a number or forever"
                                                : "a number from 0 to " + std::to_string(max)) +
                      ", not \"" + words[i] + "\"";
        return false;
    };
    auto fail = [&](const std::string& usage) {
        if (error) {
            *error = "flash fault " + knob + ": ";
            if (!problem.empty()) *error += problem;
            else *error += std::to_string(words.size()) + " argument" +
                           (words.size() == 1 ? "" : "s") + " given";
            *error += " (usage: " + knob + (usage.empty() ? "" : " ") + usage + ")";
        }
        return false;
    };
    hw::FlashModel& flash = board_->Flash();
    const uint64_t kChip = hw::kFlashChipCount - 1, kBlock = hw::kFlashBlockCount - 1;
    const uint64_t kOffset = hw::kFlashArrayBytes - 1, kAny = hw::kFlashForever;
    if (knob == "busy-before" || knob == "busy-during") {
        if (words.size() != 2 || !number(0, kChip, "the chip") || !number(1, kAny, "the polls"))
            return fail("CHIP POLLS|forever");
        if (knob == "busy-before") flash.SetBusyBefore(unsigned(n[0]), n[1]);
        else flash.SetBusyDuring(unsigned(n[0]), n[1]);
    } else if (knob == "fail-erase" || knob == "fail-program") {
        bool isErase = knob == "fail-erase";
        if (words.size() < 2 || words.size() > 3 || !number(0, kChip, "the chip") ||
            !number(1, isErase ? kBlock : kOffset, isErase ? "the block" : "the offset") ||
            (words.size() == 3 && !number(2, 0xFFFFFFFE, "the times")))
            return fail(isErase ? "CHIP BLOCK [TIMES]" : "CHIP OFFSET [TIMES]");
        uint32_t times = words.size() == 3 ? uint32_t(n[2]) : hw::kFlashAlways;
        if (isErase) flash.FailErase(unsigned(n[0]), uint32_t(n[1]), times);
        else flash.FailProgram(unsigned(n[0]), uint32_t(n[1]), times);
    } else if (knob == "stuck-bits") {
        if (words.size() != 4 || !number(0, kChip, "the chip") || !number(1, kOffset, "the offset") ||
            !number(2, 0xFFFF, "LOW") || !number(3, 0xFFFF, "HIGH"))
            return fail("CHIP OFFSET LOW HIGH");
        if ((n[2] & n[3]) != 0) {
            problem = "a bit cannot be stuck at both 0 and 1: LOW " + words[2] + " and HIGH " +
                      words[3] + " share bits";
            return fail("CHIP OFFSET LOW HIGH");
        }
        flash.SetStuckBits(unsigned(n[0]), uint32_t(n[1]), uint16_t(n[2]), uint16_t(n[3]));
    } else if (knob == "lock-block") {
        if (words.size() != 2 || !number(0, kChip, "the chip") || !number(1, kBlock, "the block"))
            return fail("CHIP BLOCK");
        flash.SetBlockLocked(unsigned(n[0]), uint32_t(n[1]), true);
    } else if (knob == "buffer-unavailable") {
        if (words.size() != 2 || !number(0, kChip, "the chip") || !number(1, 0xFFFFFFFF, "the requests"))
            return fail("CHIP REQUESTS");
        flash.MakeBufferUnavailable(unsigned(n[0]), uint32_t(n[1]));
    } else if (knob == "power-cut-after") {
        if (words.size() != 1 || !number(0, 0xFFFFFFFF, "the operations")) return fail("OPERATIONS");
        flash.CutPowerAfter(n[0]);
    } else if (knob == "power-cut-in-block") {
        if (words.size() != 1 || !number(0, kBlock, "the block")) return fail("BLOCK");
        flash.CutPowerInBlock(uint32_t(n[0]));
    } else if (knob == "clear") {
        if (!words.empty()) return fail("");
        flash.ClearFaults();
        std::lock_guard lock(mutex_);
        flashFaults_.clear();
        return true;
    } else {
        if (error) *error = "unknown fault \"" + knob + "\"; see tova-emu --help for the knobs";
        return false;
    }
    std::lock_guard lock(mutex_);
    std::string text = knob + (args.empty() ? "" : " " + args);
    if (std::find(flashFaults_.begin(), flashFaults_.end(), text) == flashFaults_.end())
        flashFaults_.push_back(text);
    return true;
}

}  // namespace tova
