// The flash model's host side: construction, reset, direct array access, fault knobs,
// counters and logs.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "emulator/hw/flash.h"

namespace tova::hw {
namespace {

void CheckChip(unsigned chip) {
    if (chip >= kFlashChipCount) throw std::out_of_range("flash chip " + std::to_string(chip) + " does not exist");
}

void CheckBlock(uint32_t block) {
    if (block >= kFlashBlockCount) throw std::out_of_range("flash block " + std::to_string(block) + " does not exist");
}

void CheckRange(uint32_t offset, uint64_t length) {
    if (offset > kFlashArrayBytes || length > kFlashArrayBytes - offset)
        throw std::out_of_range("flash range " + std::to_string(offset) + "+" + std::to_string(length) +
                                " runs past the 32 MiB array");
}

// A unique factory number per chip in the protection register; the user part is blank.
std::array<uint16_t, kFlashProtectionWords> FactoryProtection(unsigned chip) {
    return {0xFFFE, 0x7A11, 0x0C4E, uint16_t(0x3100 + chip), uint16_t(0x0001 + chip),
            0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
}

}  // namespace

FlashModel::FlashModel() {
    std::array<bool, kFlashBlockCount> nothingWritten{};
    std::shared_ptr<FlashStorage> storage = MemoryStorage();
    std::lock_guard lock(mutex_);
    Adopt(std::move(storage), nothingWritten);
    for (unsigned c = 0; c < kFlashChipCount; ++c) {
        chips_[c].protection = FactoryProtection(c);
        StoreProtection(c);
    }
}

void FlashModel::Reset() {
    ResetChips();
    std::string error;
    if (!SyncOwnFile(&error)) {
        std::lock_guard lock(mutex_);
        syncFailure_ = error;
    }
}

void FlashModel::ResetChips() {
    std::lock_guard lock(mutex_);
    for (Chip& chip : chips_) {
        chip.mode = Mode::kReadArray;
        chip.errors = 0;
        chip.busyPolls = 0;
        chip.busyUntil = {};
        chip.bufferAvailable = false;
        chip.bufferExpected = chip.bufferWritten = 0;
        chip.bufferBad = false;
        chip.bufferUsed.fill(false);
    }
    powerCut_ = false;
    powerCutFired_ = false;
}

// ---- Array words ---------------------------------------------------------------------------

void FlashModel::ApplyStuckBitsEverywhere(uint32_t firstWord, uint32_t count) {
    for (unsigned c = 0; c < kFlashChipCount; ++c) ApplyStuckBits(c, firstWord, count);
}

uint16_t FlashModel::IdentifierWord(const Chip& chip, uint32_t word) const {
    uint32_t inBlock = word % kFlashBlockWords;
    if (inBlock == kFlashIdManufacturer) return kFlashManufacturerCode;
    if (inBlock == kFlashIdDevice) return kFlashDeviceCode;
    if (inBlock == kFlashIdBlockLock) return chip.locked[word / kFlashBlockWords] ? 1 : 0;
    if (inBlock >= kFlashIdProtectionFirst && inBlock < kFlashIdProtectionFirst + kFlashProtectionWords)
        return chip.protection[inBlock - kFlashIdProtectionFirst];
    return 0;
}

namespace {
// Copies bytes inverting them, eight at a time: whole-image loads and saves go through here.
void CopyInverted(uint8_t* to, const uint8_t* from, size_t length) {
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        std::memcpy(&word, from + i, 8);
        word = ~word;
        std::memcpy(to + i, &word, 8);
    }
    for (; i < length; ++i) to[i] = uint8_t(~from[i]);
}
}  // namespace

void FlashModel::CopyOut(uint32_t offset, uint32_t length, uint8_t* to) const {
    CopyInverted(to, &cells_[offset], length);
}

void FlashModel::CopyIn(uint32_t offset, const uint8_t* from, size_t length) {
    CopyInverted(&cells_[offset], from, length);
    if (length == 0) return;
    for (size_t b = offset / kFlashBusBlockBytes; b <= (offset + length - 1) / kFlashBusBlockBytes; ++b)
        touched_[b] = dirty_[b] = true;
}

// ---- Direct access -------------------------------------------------------------------------

void FlashModel::LoadImage(uint32_t offset, std::span<const uint8_t> bytes) {
    CheckRange(offset, bytes.size());
    std::lock_guard lock(mutex_);
    CopyIn(offset, bytes.data(), bytes.size());
    uint32_t firstWord = offset / 4;
    uint32_t lastWord = uint32_t((uint64_t(offset) + bytes.size() + 3) / 4);
    ApplyStuckBitsEverywhere(firstWord, lastWord - firstWord);
}

std::vector<uint8_t> FlashModel::ReadArray(uint32_t offset, uint32_t length) const {
    CheckRange(offset, length);
    std::lock_guard lock(mutex_);
    std::vector<uint8_t> bytes(length);
    CopyOut(offset, length, bytes.data());
    return bytes;
}


bool FlashModel::BlockLocked(unsigned chip, uint32_t block) const {
    CheckChip(chip);
    CheckBlock(block);
    std::lock_guard lock(mutex_);
    return chips_[chip].locked[block];
}

void FlashModel::SetBlockLocked(unsigned chip, uint32_t block, bool locked) {
    CheckChip(chip);
    CheckBlock(block);
    std::lock_guard lock(mutex_);
    chips_[chip].locked[block] = locked;
    StoreLocks(chip);
}

void FlashModel::SetProtectionRegister(unsigned chip,
                                       const std::array<uint16_t, kFlashProtectionWords>& words) {
    CheckChip(chip);
    std::lock_guard lock(mutex_);
    chips_[chip].protection = words;
    StoreProtection(chip);
}

// ---- Timing and knobs ----------------------------------------------------------------------

void FlashModel::SetTiming(unsigned chip, const FlashTiming& timing) {
    CheckChip(chip);
    std::lock_guard lock(mutex_);
    chips_[chip].timing = timing;
}

FlashTiming FlashModel::Timing(unsigned chip) const {
    CheckChip(chip);
    std::lock_guard lock(mutex_);
    return chips_[chip].timing;
}

void FlashModel::SetBusyInTime(bool inTime) {
    std::lock_guard lock(mutex_);
    busyInTime_ = inTime;
}

void FlashModel::SetBusyBefore(unsigned chip, uint64_t polls) {
    CheckChip(chip);
    std::lock_guard lock(mutex_);
    chips_[chip].busyPolls = polls;
}

void FlashModel::SetBusyDuring(unsigned chip, uint64_t polls) {
    CheckChip(chip);
    std::lock_guard lock(mutex_);
    chips_[chip].busyDuringExtra = polls;
}

void FlashModel::FailErase(unsigned chip, uint32_t block, uint32_t times) {
    CheckChip(chip);
    CheckBlock(block);
    std::lock_guard lock(mutex_);
    if (times == 0)
        chips_[chip].eraseFaults.erase(block);
    else
        chips_[chip].eraseFaults[block] = times;
}

void FlashModel::FailProgram(unsigned chip, uint32_t offset, uint32_t times) {
    CheckChip(chip);
    CheckRange(offset, 1);
    std::lock_guard lock(mutex_);
    if (times == 0)
        chips_[chip].programFaults.erase(offset / 4);
    else
        chips_[chip].programFaults[offset / 4] = times;
}

void FlashModel::SetStuckBits(unsigned chip, uint32_t offset, uint16_t stuckLow, uint16_t stuckHigh) {
    CheckChip(chip);
    CheckRange(offset, 1);
    if (stuckLow & stuckHigh) throw std::invalid_argument("a bit cannot be stuck at both 0 and 1");
    std::lock_guard lock(mutex_);
    uint32_t word = offset / 4;
    if (stuckLow == 0 && stuckHigh == 0) {
        chips_[chip].stuckBits.erase(word);
        return;
    }
    chips_[chip].stuckBits[word] = StuckBits{stuckLow, stuckHigh};
    ApplyStuckBits(chip, word, 1);
}

void FlashModel::MakeBufferUnavailable(unsigned chip, uint32_t requests) {
    CheckChip(chip);
    std::lock_guard lock(mutex_);
    chips_[chip].bufferUnavailable = requests;
}

void FlashModel::CutPowerAfter(uint64_t operations) {
    std::lock_guard lock(mutex_);
    powerCutArmed_ = true;
    powerCutCountdown_ = operations;
    powerCutBlock_ = kNoPowerCutBlock;
}

void FlashModel::CutPowerInBlock(uint32_t block) {
    std::lock_guard lock(mutex_);
    powerCutArmed_ = true;
    powerCutCountdown_ = 0;
    powerCutBlock_ = block;
}

void FlashModel::ClearFaults() {
    std::lock_guard lock(mutex_);
    for (Chip& chip : chips_) {
        chip.busyPolls = 0;
        chip.busyDuringExtra = 0;
        chip.bufferUnavailable = 0;
        chip.eraseFaults.clear();
        chip.programFaults.clear();
        chip.stuckBits.clear();
    }
    powerCutArmed_ = false;
    powerCutCountdown_ = 0;
    powerCutBlock_ = kNoPowerCutBlock;
}

bool FlashModel::PowerCut() const {
    std::lock_guard lock(mutex_);
    return powerCut_;
}

void FlashModel::OnPowerCut(std::function<void()> listener) {
    std::lock_guard lock(mutex_);
    powerCutListeners_.push_back(std::move(listener));
}

// ---- Counters and logs ---------------------------------------------------------------------

void FlashModel::Log(FlashOperationKind kind, unsigned chip, bool ok, uint32_t offset, uint32_t words) {
    // Eight bytes an entry: a flashing logs close to a million of them.
    operations_.push_back(uint64_t(offset) << 32 | uint64_t(words) << 8 | uint64_t(ok) << 4 |
                          uint64_t(chip) << 3 | uint64_t(kind));
    FlashActivity& activity = chips_[chip].activity;
    switch (kind) {
    case FlashOperationKind::kErase:
        ++activity.erases;
        activity.lastEraseOffset = offset;
        break;
    case FlashOperationKind::kBufferedProgram:
    case FlashOperationKind::kWordProgram:
        ++activity.programs;
        activity.lastProgramOffset = offset;
        break;
    default: ++activity.lockChanges; break;
    }
    activity.anyOperation = true;
    activity.lastKind = kind;
}

void FlashModel::Note(FlashNoteKind kind, unsigned chip, uint32_t word, uint16_t value) {
    ++noteCounts_[size_t(kind)];
    if (notes_.size() < kKeptNotes) notes_.push_back(FlashNote{kind, uint8_t(chip), word * 4, value});
}

uint32_t FlashModel::EraseCount(unsigned chip, uint32_t block) const {
    CheckChip(chip);
    CheckBlock(block);
    std::lock_guard lock(mutex_);
    return chips_[chip].eraseCounts[block];
}

std::vector<FlashOperation> FlashModel::Operations() const {
    std::lock_guard lock(mutex_);
    std::vector<FlashOperation> operations;
    operations.reserve(operations_.size());
    operations_.ForEach([&](uint64_t packed) {
        operations.push_back(FlashOperation{FlashOperationKind(packed & 7), uint8_t(packed >> 3 & 1),
                                            bool(packed >> 4 & 1), uint32_t(packed >> 32),
                                            uint32_t(packed >> 8 & 0xFFFFFF)});
    });
    return operations;
}

std::vector<FlashOperation> FlashModel::BufferedWrites() const {
    std::vector<FlashOperation> result;
    for (const FlashOperation& op : Operations())
        if (op.kind == FlashOperationKind::kBufferedProgram) result.push_back(op);
    return result;
}

std::vector<FlashOperation> FlashModel::WordPrograms() const {
    std::vector<FlashOperation> result;
    for (const FlashOperation& op : Operations())
        if (op.kind == FlashOperationKind::kWordProgram) result.push_back(op);
    return result;
}

std::vector<FlashNote> FlashModel::Notes() const {
    std::lock_guard lock(mutex_);
    return notes_;
}

uint64_t FlashModel::NoteCount(FlashNoteKind kind) const {
    std::lock_guard lock(mutex_);
    return noteCounts_[size_t(kind)];
}

std::vector<FlashBusWrite> FlashModel::BusWrites() const {
    std::lock_guard lock(mutex_);
    return busWrites_;
}

void FlashModel::ClearLog() {
    std::lock_guard lock(mutex_);
    operations_.clear();
    notes_.clear();
    busWrites_.clear();
    noteCounts_.fill(0);
    for (Chip& chip : chips_) chip.eraseCounts.fill(0);
}

}  // namespace tova::hw
