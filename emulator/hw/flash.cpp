// The flash chips' command state machines, as the bus drives them.
#include "emulator/hw/flash.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "platform/clock/clock.h"

namespace tova::hw {
namespace {

namespace cmd {
constexpr uint8_t kReadArray = 0xFF;
constexpr uint8_t kReadStatus = 0x70;
constexpr uint8_t kClearStatus = 0x50;
constexpr uint8_t kReadIdentifier = 0x90;
constexpr uint8_t kBlockErase = 0x20;
constexpr uint8_t kWriteToBuffer = 0xE8;
constexpr uint8_t kWordProgram = 0x40;
constexpr uint8_t kWordProgramAlt = 0x10;
constexpr uint8_t kLockSetup = 0x60;
constexpr uint8_t kSetLockConfirm = 0x01;
constexpr uint8_t kConfirm = 0xD0;  // erase / buffer / clear-locks confirm, and resume
constexpr uint8_t kSuspend = 0xB0;
}  // namespace cmd

constexpr uint16_t kErrorSequence = kFlashStatusEraseError | kFlashStatusProgramError;

uint32_t BlockOf(uint32_t word) { return word / kFlashBlockWords; }
uint8_t CommandByte(uint16_t value) { return static_cast<uint8_t>(value & 0xFF); }

}  // namespace

// ---- Cells (here, beside the state machines, so that they inline into them) ------------

// The small steps every access or programmed word takes; used in this file only.
#define HOT_PATH [[gnu::always_inline]] inline

HOT_PATH uint16_t FlashModel::ArrayWord(unsigned chip, uint32_t word) const {
    size_t at = size_t(word) * 4 + chip * 2;
    return uint16_t(~(cells_[at] | (cells_[at + 1] << 8)));
}

HOT_PATH void FlashModel::SetArrayWord(unsigned chip, uint32_t word, uint16_t value) {
    size_t at = size_t(word) * 4 + chip * 2;
    cells_[at] = uint8_t(~value);
    cells_[at + 1] = uint8_t(~value >> 8);
    touched_[word / kFlashBlockWords] = true;
    dirty_[word / kFlashBlockWords] = true;
}

void FlashModel::EraseArrayWords(unsigned chip, uint32_t firstWord, uint32_t count) {
    uint8_t* cell = &cells_[size_t(firstWord) * 4 + chip * 2];
    for (uint32_t i = 0; i < count; ++i, cell += 4) cell[0] = cell[1] = 0;  // inverted 0xFFFF
    touched_[firstWord / kFlashBlockWords] = true;
    dirty_[firstWord / kFlashBlockWords] = true;
}

HOT_PATH void FlashModel::ProgramArrayWord(unsigned chip, uint32_t word, uint16_t value) {
    // Programming only turns ones into zeros.
    SetArrayWord(chip, word, ArrayWord(chip, word) & value);
    ApplyStuckBits(chip, word, 1);
}

void FlashModel::ApplyStuckBits(unsigned chip, uint32_t firstWord, uint32_t count) {
    if (chips_[chip].stuckBits.empty()) return;
    for (const auto& [word, bits] : chips_[chip].stuckBits) {
        if (word < firstWord || word - firstWord >= count) continue;
        SetArrayWord(chip, word, uint16_t((ArrayWord(chip, word) & ~bits.low) | bits.high));
    }
}

HOT_PATH bool FlashModel::ConsumeFault(std::unordered_map<uint32_t, uint32_t>& faults, uint32_t key) {
    if (faults.empty()) return false;
    auto it = faults.find(key);
    if (it == faults.end()) return false;
    if (it->second != kFlashAlways && --it->second == 0) faults.erase(it);
    return true;
}

// ---- Bus side ----------------------------------------------------------------------------

uint32_t FlashModel::Read(uint32_t offset, unsigned width) {
    std::lock_guard lock(mutex_);
    uint32_t word = offset / 4;
    if (width == 4) return ReadLane(0, word) | (uint32_t(ReadLane(1, word)) << 16);
    uint16_t half = ReadLane((offset >> 1) & 1, word);
    if (width == 2) return half;
    return (half >> ((offset & 1) * 8)) & 0xFF;
}

void FlashModel::Write(uint32_t offset, uint32_t value, unsigned width) {
    uint32_t word = offset / 4;
    std::vector<std::function<void()>> powerCutListeners;
    {
        std::lock_guard lock(mutex_);
        if (busWrites_.size() < kKeptBusWrites) busWrites_.push_back({offset, value, width});
        if (width == 4 && TakeDataWord(word, value)) return;
        if (width == 1) {
            // A x16 chip has no byte enables: what it would latch is undefined.
            Note(FlashNoteKind::kBadAccess, (offset >> 1) & 1, word, uint16_t(value));
        } else if (width == 2) {
            WriteLane((offset >> 1) & 1, word, uint16_t(value));
        } else {
            uint16_t low = uint16_t(value), high = uint16_t(value >> 16);
            bool lowCommand = WriteLane(0, word, low);
            bool highCommand = WriteLane(1, word, high);
            if (low != high && (lowCommand || highCommand))
                Note(FlashNoteKind::kHalvesDiffer, lowCommand ? 0 : 1, word, lowCommand ? low : high);
        }
        if (powerCutFired_) {
            powerCutFired_ = false;
            powerCutListeners = powerCutListeners_;
        }
    }
    for (auto& listener : powerCutListeners) listener();
    if (width == 1)
        ReportGuestError(GuestErrorKind::kDeviceAccess, true, offset, 1, value,
                         "byte write to 16-bit flash ignored");
}

// Most writes of a flashing are the data words of buffered programs, the same state for
// both chips: they are taken here in one step. Anything else (a chip busy or elsewhere in
// its sequence, the power gone) goes through each lane's state machine.
HOT_PATH bool FlashModel::TakeDataWord(uint32_t word, uint32_t value) {
    Chip& low = chips_[0];
    Chip& high = chips_[1];
    if (low.mode != Mode::kBufferData || high.mode != Mode::kBufferData || powerCut_ ||
        IsBusy(low) || IsBusy(high))
        return false;
    TakeBufferData(0, word, uint16_t(value));
    TakeBufferData(1, word, uint16_t(value >> 16));
    return true;
}

uint16_t FlashModel::ReadLane(unsigned chipIndex, uint32_t word) {
    if (powerCut_) return 0;
    Chip& chip = chips_[chipIndex];
    if (IsBusy(chip)) {
        // While the write state machine runs, every read answers status, not yet ready.
        PollBusy(chip);
        return 0;
    }
    switch (chip.mode) {
        case Mode::kReadArray: return ArrayWord(chipIndex, word);
        case Mode::kReadIdentifier: return IdentifierWord(chip, word);
        case Mode::kBufferRequest: return chip.bufferAvailable ? kFlashBufferAvailable : 0;
        default: return kFlashStatusReady | chip.errors;
    }
}

bool FlashModel::WriteLane(unsigned chipIndex, uint32_t word, uint16_t value) {
    Chip& chip = chips_[chipIndex];
    if (powerCut_) {
        Note(FlashNoteKind::kBadAccess, chipIndex, word, value);
        return false;
    }
    if (IsBusy(chip)) {
        if (CommandByte(value) == cmd::kReadStatus)
            chip.mode = Mode::kReadStatus;
        else
            Note(FlashNoteKind::kIgnoredWhileBusy, chipIndex, word, value);
        return true;
    }
    switch (chip.mode) {
        case Mode::kEraseSetup: ConfirmErase(chipIndex, word, value); return true;
        case Mode::kBufferRequest:
            if (CommandByte(value) == cmd::kWriteToBuffer)
                RequestBuffer(chipIndex, word);
            else if (!chip.bufferAvailable)
                SequenceError(chipIndex, word, value);
            else
                TakeBufferCount(chipIndex, word, value);
            return true;
        case Mode::kBufferData: TakeBufferData(chipIndex, word, value); return false;
        case Mode::kBufferConfirm: ConfirmBuffer(chipIndex, word, value); return true;
        case Mode::kProgramSetup: ProgramWord(chipIndex, word, value); return false;
        case Mode::kLockSetup: FinishLockSetup(chipIndex, word, value); return true;
        default: Command(chipIndex, word, value); return true;
    }
}

void FlashModel::Command(unsigned chipIndex, uint32_t word, uint16_t value) {
    Chip& chip = chips_[chipIndex];
    switch (CommandByte(value)) {
        case cmd::kReadArray: chip.mode = Mode::kReadArray; return;
        case cmd::kReadStatus: chip.mode = Mode::kReadStatus; return;
        case cmd::kReadIdentifier: chip.mode = Mode::kReadIdentifier; return;
        case cmd::kClearStatus: chip.errors &= ~kFlashStatusErrorBits; return;
        case cmd::kBlockErase:
            chip.mode = Mode::kEraseSetup;
            chip.setupBlock = BlockOf(word);
            return;
        case cmd::kWriteToBuffer: RequestBuffer(chipIndex, word); return;
        case cmd::kWordProgram:
        case cmd::kWordProgramAlt: chip.mode = Mode::kProgramSetup; return;
        case cmd::kLockSetup: chip.mode = Mode::kLockSetup; return;
        case cmd::kConfirm:  // resume with nothing suspended
        case cmd::kSuspend:  // suspend with nothing running
            chip.mode = Mode::kReadStatus;
            return;
        default:
            Note(FlashNoteKind::kUnknownCommand, chipIndex, word, value);
            chip.errors |= kErrorSequence;
            chip.mode = Mode::kReadStatus;
            return;
    }
}

void FlashModel::SequenceError(unsigned chipIndex, uint32_t word, uint16_t value) {
    Note(FlashNoteKind::kSequenceError, chipIndex, word, value);
    chips_[chipIndex].errors |= kErrorSequence;
    chips_[chipIndex].mode = Mode::kReadStatus;
}

// ---- Operations --------------------------------------------------------------------------

void FlashModel::ConfirmErase(unsigned chipIndex, uint32_t word, uint16_t value) {
    Chip& chip = chips_[chipIndex];
    uint32_t block = BlockOf(word);
    if (CommandByte(value) != cmd::kConfirm || block != chip.setupBlock) {
        SequenceError(chipIndex, word, value);
        return;
    }
    bool cut = CountsTowardsPowerCut(block);
    bool ok = false;
    uint32_t first = block * kFlashBlockWords;
    if (chip.locked[block]) {
        chip.errors |= kFlashStatusEraseError | kFlashStatusLocked;
    } else if (cut) {
        EraseArrayWords(chipIndex, first, kFlashBlockWords / 2);
        ApplyStuckBits(chipIndex, first, kFlashBlockWords / 2);
    } else if (ConsumeFault(chip.eraseFaults, block)) {
        chip.errors |= kFlashStatusEraseError;
    } else {
        EraseArrayWords(chipIndex, first, kFlashBlockWords);
        ApplyStuckBits(chipIndex, first, kFlashBlockWords);
        ++chip.eraseCounts[block];
        ok = true;
    }
    Log(FlashOperationKind::kErase, chipIndex, ok, block * kFlashBusBlockBytes, 0);
    chip.mode = Mode::kReadStatus;
    StartBusy(chip, chip.timing.erasePolls, chip.timing.eraseTime);
}

void FlashModel::RequestBuffer(unsigned chipIndex, uint32_t word) {
    Chip& chip = chips_[chipIndex];
    chip.mode = Mode::kBufferRequest;
    chip.setupBlock = BlockOf(word);
    // A chip that has reported a program or erase error keeps its buffer until the
    // status is cleared.
    chip.bufferAvailable = (chip.errors & kErrorSequence) == 0 && chip.bufferUnavailable == 0;
    if (chip.bufferUnavailable > 0) --chip.bufferUnavailable;
}

void FlashModel::TakeBufferCount(unsigned chipIndex, uint32_t word, uint16_t value) {
    Chip& chip = chips_[chipIndex];
    if (value >= kFlashBufferWords || BlockOf(word) != chip.setupBlock) {
        SequenceError(chipIndex, word, value);
        return;
    }
    chip.bufferExpected = value + 1u;
    chip.bufferWritten = 0;
    chip.bufferBad = false;
    chip.bufferUsed.fill(false);
    chip.mode = Mode::kBufferData;
}

HOT_PATH void FlashModel::TakeBufferData(unsigned chipIndex, uint32_t word, uint16_t value) {
    Chip& chip = chips_[chipIndex];
    uint32_t window = word & ~(kFlashBufferWords - 1);
    if (chip.bufferWritten == 0) chip.bufferWindow = window;
    if (window != chip.bufferWindow) {
        // Outside the buffer's window: the chip cannot place it; the confirm will fail.
        chip.bufferBad = true;
        Note(FlashNoteKind::kSequenceError, chipIndex, word, value);
    } else {
        chip.bufferData[word - window] = value;
        chip.bufferUsed[word - window] = true;
    }
    if (++chip.bufferWritten == chip.bufferExpected) chip.mode = Mode::kBufferConfirm;
}

void FlashModel::ConfirmBuffer(unsigned chipIndex, uint32_t word, uint16_t value) {
    Chip& chip = chips_[chipIndex];
    if (CommandByte(value) != cmd::kConfirm || chip.bufferBad || BlockOf(word) != chip.setupBlock) {
        SequenceError(chipIndex, word, value);
        return;
    }
    uint32_t block = BlockOf(chip.bufferWindow);
    bool cut = CountsTowardsPowerCut(block);
    uint32_t toProgram = cut ? chip.bufferWritten / 2 : chip.bufferWritten;
    uint32_t first = chip.bufferWindow;
    for (uint32_t i = 0; i < kFlashBufferWords; ++i) {
        if (chip.bufferUsed[i]) {
            first = chip.bufferWindow + i;
            break;
        }
    }
    bool ok = !cut;
    if (chip.locked[block]) {
        chip.errors |= kFlashStatusProgramError | kFlashStatusLocked;
        ok = false;
    } else if (chip.programFaults.empty() && chip.stuckBits.empty()) {
        ProgramBuffer(chipIndex, toProgram);  // no knob on this chip: the common case
    } else {
        uint32_t programmed = 0;
        for (uint32_t i = 0; i < kFlashBufferWords && programmed < toProgram; ++i) {
            if (!chip.bufferUsed[i]) continue;
            ++programmed;
            uint32_t w = chip.bufferWindow + i;
            if (ConsumeFault(chip.programFaults, w)) {
                chip.errors |= kFlashStatusProgramError;
                ok = false;
                continue;
            }
            ProgramArrayWord(chipIndex, w, chip.bufferData[i]);
        }
    }
    Log(FlashOperationKind::kBufferedProgram, chipIndex, ok, first * 4, toProgram);
    chip.mode = Mode::kReadStatus;
    StartBusy(chip, chip.timing.programPolls, chip.timing.bufferTime);
}

// The first `count` words the buffer holds into the array, with no fault or stuck bit to
// mind. The window lies in one block.
void FlashModel::ProgramBuffer(unsigned chipIndex, uint32_t count) {
    Chip& chip = chips_[chipIndex];
    uint8_t* cell = &cells_[size_t(chip.bufferWindow) * 4 + chipIndex * 2];
    uint32_t programmed = 0;
    for (uint32_t i = 0; i < kFlashBufferWords && programmed < count; ++i, cell += 4) {
        if (!chip.bufferUsed[i]) continue;
        ++programmed;
        // Programming only turns ones into zeros: the inverted cells only gain ones.
        uint16_t inverted = uint16_t(~chip.bufferData[i]);
        cell[0] |= uint8_t(inverted);
        cell[1] |= uint8_t(inverted >> 8);
    }
    touched_[chip.bufferWindow / kFlashBlockWords] = true;
    dirty_[chip.bufferWindow / kFlashBlockWords] = true;
}

void FlashModel::ProgramWord(unsigned chipIndex, uint32_t word, uint16_t value) {
    Chip& chip = chips_[chipIndex];
    bool cut = CountsTowardsPowerCut(BlockOf(word));
    bool ok = false;
    if (chip.locked[BlockOf(word)]) {
        chip.errors |= kFlashStatusProgramError | kFlashStatusLocked;
    } else if (cut) {
        // Cut before the cells took the value.
    } else if (ConsumeFault(chip.programFaults, word)) {
        chip.errors |= kFlashStatusProgramError;
    } else {
        ProgramArrayWord(chipIndex, word, value);
        ok = true;
    }
    Log(FlashOperationKind::kWordProgram, chipIndex, ok, word * 4, 1);
    chip.mode = Mode::kReadStatus;
    StartBusy(chip, chip.timing.programPolls, chip.timing.wordTime);
}

void FlashModel::FinishLockSetup(unsigned chipIndex, uint32_t word, uint16_t value) {
    Chip& chip = chips_[chipIndex];
    uint8_t confirm = CommandByte(value);
    if (confirm != cmd::kSetLockConfirm && confirm != cmd::kConfirm) {
        SequenceError(chipIndex, word, value);
        return;
    }
    bool cut = CountsTowardsPowerCut(BlockOf(word));
    if (confirm == cmd::kSetLockConfirm) {
        if (!cut) {
            chip.locked[BlockOf(word)] = true;
            StoreLocks(chipIndex);
        }
        Log(FlashOperationKind::kSetLock, chipIndex, !cut, BlockOf(word) * kFlashBusBlockBytes, 0);
    } else {
        if (!cut) {
            chip.locked.fill(false);
            StoreLocks(chipIndex);
        }
        Log(FlashOperationKind::kClearLocks, chipIndex, !cut, 0, 0);
    }
    chip.mode = Mode::kReadStatus;
    StartBusy(chip, chip.timing.lockPolls, chip.timing.lockTime);
}

// ---- Busy time and power ----------------------------------------------------------------

HOT_PATH bool FlashModel::IsBusy(const Chip& chip) const {
    if (chip.busyPolls > 0) return true;
    return busyInTime_ && std::chrono::steady_clock::now() < chip.busyUntil;
}

HOT_PATH void FlashModel::PollBusy(Chip& chip) {
    if (chip.busyPolls > 0 && chip.busyPolls != kFlashForever) --chip.busyPolls;
}

void FlashModel::StartBusy(Chip& chip, uint32_t polls, std::chrono::microseconds time) {
    uint64_t extra = chip.busyDuringExtra;
    if (busyInTime_) {
        chip.busyUntil = std::chrono::steady_clock::now() +
                         std::chrono::duration_cast<std::chrono::steady_clock::duration>(ScaledDuration(time));
        chip.busyPolls = extra;
    } else {
        chip.busyPolls = extra == kFlashForever ? kFlashForever : polls + extra;
    }
}

bool FlashModel::CountsTowardsPowerCut(uint32_t block) {
    if (!powerCutArmed_) return false;
    if (powerCutBlock_ != kNoPowerCutBlock && block != powerCutBlock_) return false;
    if (powerCutCountdown_ > 0) {
        --powerCutCountdown_;
        return false;
    }
    powerCutArmed_ = false;
    powerCut_ = true;
    powerCutFired_ = true;
    return true;
}

// Here rather than with the other counters: it asks the chip whether it is busy.
FlashActivity FlashModel::Activity(unsigned chip) const {
    if (chip >= kFlashChipCount) throw std::out_of_range("flash chip " + std::to_string(chip) + " does not exist");
    std::lock_guard lock(mutex_);
    const Chip& c = chips_[chip];
    FlashActivity activity = c.activity;
    activity.readArray = c.mode == Mode::kReadArray;
    activity.busy = IsBusy(c);
    return activity;
}

}  // namespace tova::hw
