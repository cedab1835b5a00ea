// NOR flash on the handheld's 32-bit bus: two x16 chips of the Intel command set side by
// side, 32 MiB in all. Chip 0 answers the low 16 bits of each bus word, chip 1 the high 16
// bits. Blocks are 256 KiB on the bus (128 KiB in each chip), 128 of them.
//
// Each chip has its own state machine, decoded from its own lane: mode (read array, read
// status, read identifier, erase setup, write-to-buffer sequence, program setup, lock
// setup), status register, extended status, write buffer and lock bits. A 32-bit command
// whose halves differ is legal: the chips go their own ways, and the model notes it.
//
// Host offsets (LoadImage, ReadArray, knobs, the operation log) are bus byte offsets from
// the start of flash (0 for the word at 0xA0000000). A chip's word w lies at bus offset
// 4 * w + 2 * chip.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "shared/flash_map.h"
#include "emulator/hw/bus.h"
#include "emulator/hw/chunked_log.h"
#include "emulator/hw/spin_lock.h"

namespace tova::hw {

inline constexpr uint32_t kFlashChipCount = 2;
inline constexpr uint32_t kFlashArrayBytes = kFlashBytes;
inline constexpr uint32_t kFlashBusBlockBytes = kFlashBlockBytes;
inline constexpr uint32_t kFlashBlockCount = kFlashArrayBytes / kFlashBusBlockBytes;  // 128
inline constexpr uint32_t kFlashChipWords = kFlashArrayBytes / 4;       // 16-bit words per chip
inline constexpr uint32_t kFlashBlockWords = kFlashBusBlockBytes / 4;   // per chip per block
inline constexpr uint32_t kFlashBufferWords = 16;                        // per chip

// Status register bits.
inline constexpr uint16_t kFlashStatusReady = 0x80;         // SR.7 write state machine ready
inline constexpr uint16_t kFlashStatusEraseSuspended = 0x40;
inline constexpr uint16_t kFlashStatusEraseError = 0x20;    // SR.5 erase / clear-lock error
inline constexpr uint16_t kFlashStatusProgramError = 0x10;  // SR.4 program / set-lock error
inline constexpr uint16_t kFlashStatusVppLow = 0x08;        // SR.3
inline constexpr uint16_t kFlashStatusLocked = 0x02;        // SR.1 block locked
inline constexpr uint16_t kFlashStatusErrorBits = 0x3A;     // what clear status clears
// Extended status (answer to write-to-buffer).
inline constexpr uint16_t kFlashBufferAvailable = 0x80;

inline constexpr uint16_t kFlashManufacturerCode = 0x0089;
inline constexpr uint16_t kFlashDeviceCode = 0x0018;  // 128 Mbit
// Identifier-mode word offsets (per chip, from a block's first word).
inline constexpr uint32_t kFlashIdManufacturer = 0;
inline constexpr uint32_t kFlashIdDevice = 1;
inline constexpr uint32_t kFlashIdBlockLock = 2;
inline constexpr uint32_t kFlashIdProtectionFirst = 0x80;  // lock word, then 8 data words
inline constexpr uint32_t kFlashProtectionWords = 9;

inline constexpr uint64_t kFlashForever = std::numeric_limits<uint64_t>::max();
inline constexpr uint32_t kFlashAlways = std::numeric_limits<uint32_t>::max();

enum class FlashOperationKind { kErase, kBufferedProgram, kWordProgram, kSetLock, kClearLocks };

// One operation a chip started, in order. `offset` is the bus offset of the block (erase,
// set lock), of the bus word holding the chip's first programmed word (programs: the same
// for both chips of a 32-bit buffered write), or 0 (clear locks). `words` counts the
// chip's 16-bit words in the program (programs only).
struct FlashOperation {
    FlashOperationKind kind;
    uint8_t chip;
    bool ok;  // false when the chip reported an error for it
    uint32_t offset;
    uint32_t words;
};

// Irregular but legal things the guest did, kept for tests and diagnostics.
enum class FlashNoteKind {
    kIgnoredWhileBusy,  // a command other than read status while the chip was busy
    kHalvesDiffer,      // a command or count write whose two halves differ
    kUnknownCommand,    // sets SR.4 and SR.5
    kSequenceError,     // a bad confirm, count, window or number of data writes: SR.4 and SR.5
    kBadAccess,         // a byte access, or a write after the power was cut
};
inline constexpr size_t kFlashNoteKinds = 5;

struct FlashNote {
    FlashNoteKind kind;
    uint8_t chip;
    uint32_t offset;
    uint16_t value;
};

// One write as the bus brought it (command, count or data word), at its bus offset.
struct FlashBusWrite {
    uint32_t offset;
    uint32_t value;
    unsigned width;
};

// How long a chip stays busy: status reads while busy (deterministic), or, when the model
// counts in time, nominal durations on the scaled clock.
struct FlashTiming {
    uint32_t erasePolls = 3;
    uint32_t programPolls = 1;
    uint32_t lockPolls = 1;
    std::chrono::microseconds eraseTime{1000000};
    std::chrono::microseconds bufferTime{200};
    std::chrono::microseconds wordTime{20};
    std::chrono::microseconds lockTime{20};
};

// What a chip is doing, for a person watching it: whether it answers array reads, whether
// its write state machine is busy, and how many operations of each kind it has started
// since the model was made (monotonic: ClearLog and Reset leave them), with the last one.
struct FlashActivity {
    bool readArray = true;  // in read-array mode (not in the middle of a command)
    bool busy = false;      // SR.7 would read 0
    uint64_t erases = 0;
    uint64_t programs = 0;  // buffered and word programs
    uint64_t lockChanges = 0;
    bool anyOperation = false;  // false until the chip starts one
    FlashOperationKind lastKind = FlashOperationKind::kErase;
    // Bus offsets (as FlashOperation::offset) of the last erase and the last program.
    uint32_t lastEraseOffset = 0;
    uint32_t lastProgramOffset = 0;
};

// Where a model keeps its array and lock bits (flash_file.cpp).
struct FlashStorage;

class FlashFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class FlashModel : public BusDevice {
public:
    FlashModel();

    uint32_t Read(uint32_t offset, unsigned width) override;
    void Write(uint32_t offset, uint32_t value, unsigned width) override;

    // Power-on / hardware reset: both chips to read array, status cleared, write buffers and
    // sequences dropped, a running operation abandoned (its effect on the array stays), power
    // back after a cut. Lock bits, contents and fault knobs are kept. What was written since
    // is put onto the storage of the model's file, so that the handheld never boots from
    // flash a host crash could take back (a failure is reported by the next Save).
    void Reset();

    // ---- Direct host access, bypassing the state machines -------------------------------
    // Copies bytes into the array at a bus offset. Throws std::out_of_range past the end.
    void LoadImage(uint32_t offset, std::span<const uint8_t> bytes);
    std::vector<uint8_t> ReadArray(uint32_t offset, uint32_t length) const;
    // A copy of the whole array in bus byte order.
    std::vector<uint8_t> Array() const { return ReadArray(0, kFlashArrayBytes); }
    // Every byte to 0xFF (a factory-fresh part), without touching lock bits.
    void EraseAll();

    bool BlockLocked(unsigned chip, uint32_t block) const;
    // Fault knob "a block locked", and the host's way to set up lock bits.
    void SetBlockLocked(unsigned chip, uint32_t block, bool locked);
    void SetProtectionRegister(unsigned chip, const std::array<uint16_t, kFlashProtectionWords>& words);

    // The model keeps its array, lock bits and protection registers in a file of the state
    // folder, mapped shared: once it has its file, every erase, program and lock change is
    // in the kernel's hands the moment the model makes it, so a process killed by any signal
    // loses none of them. Until then (a new model) it keeps them in memory.
    //
    // Save to the model's own file puts what changed since the last save onto the storage;
    // to any other file it writes the whole part atomically (a temporary file, synced, renamed
    // over the old one). A model without a file, or whose file was removed or replaced, moves
    // into the file it saves. Throws FlashFileError with the path and the reason.
    void Save(const std::filesystem::path& path);
    // Validates the file before changing anything: a missing, short, foreign or corrupt file
    // throws FlashFileError and leaves the model as it was. A file of the current format
    // becomes the model's own (one it may not write is read into memory instead); one of the
    // first format is read into memory, and the next save writes the current format.
    void Load(const std::filesystem::path& path);
    // The file the model lives in, or empty while it lives in memory.
    std::filesystem::path OwnFile() const;

    // ---- Timing --------------------------------------------------------------------------
    void SetTiming(unsigned chip, const FlashTiming& timing);
    FlashTiming Timing(unsigned chip) const;
    // false (default): busy time counted in status reads; true: in scaled time.
    void SetBusyInTime(bool inTime);

    // ---- Fault knobs (per chip; they survive Reset) -------------------------------------
    // The chip reads busy for the next `polls` status reads from now, before any operation
    // it is given (kFlashForever: until the knob is cleared with 0 or Reset).
    void SetBusyBefore(unsigned chip, uint64_t polls);
    // Every operation the chip starts takes `polls` more status reads (kFlashForever: it
    // never finishes until Reset). 0 clears.
    void SetBusyDuring(unsigned chip, uint64_t polls);
    // Erasing `block` fails with SR.5 the next `times` times (kFlashAlways: every time),
    // leaving the block's data as it was.
    void FailErase(unsigned chip, uint32_t block, uint32_t times = kFlashAlways);
    // Programming the chip's word in the bus word at `offset` fails with SR.4 the next `times`
    // times; that word keeps its old value, the rest of the buffer is programmed.
    void FailProgram(unsigned chip, uint32_t offset, uint32_t times = kFlashAlways);
    // Bits of the chip's word in the bus word at `offset` that always read 0 (stuckLow) or 1 (stuckHigh),
    // whatever is programmed or erased. Both 0 clears the knob.
    void SetStuckBits(unsigned chip, uint32_t offset, uint16_t stuckLow, uint16_t stuckHigh);
    // The next `requests` write-to-buffer requests find no buffer available.
    void MakeBufferUnavailable(unsigned chip, uint32_t requests);
    // After `operations` more operations (either chip), the next one is cut off halfway: an
    // erase clears only the first half of the chip's block, a buffered program writes only
    // its first half; then the power is gone: reads answer 0, writes are dropped and
    // PowerCut() is true until Reset.
    void CutPowerAfter(uint64_t operations);
    // The next operation (either chip) on `block` is cut off halfway, as above: aims the
    // cut at one place, such as the block that holds the ROM identity.
    void CutPowerInBlock(uint32_t block);
    void ClearFaults();

    bool PowerCut() const;
    // Called (outside the model's lock, on the thread that made the access) when the
    // power-cut knob fires.
    void OnPowerCut(std::function<void()> listener);

    // ---- Counters and logs -----------------------------------------------------------------
    FlashActivity Activity(unsigned chip) const;
    uint32_t EraseCount(unsigned chip, uint32_t block) const;
    std::vector<FlashOperation> Operations() const;
    std::vector<FlashOperation> BufferedWrites() const;
    std::vector<FlashOperation> WordPrograms() const;
    // The first kKeptNotes notes, and how many of each kind there were.
    static constexpr size_t kKeptNotes = 4096;
    std::vector<FlashNote> Notes() const;
    uint64_t NoteCount(FlashNoteKind kind) const;
    // The command log: the first kKeptBusWrites writes, in order, so that a test can hold a
    // driver's command sequences against the datasheet's.
    static constexpr size_t kKeptBusWrites = 4096;
    std::vector<FlashBusWrite> BusWrites() const;
    // Clears the operation log, notes, command log and erase counters.
    void ClearLog();

private:
    enum class Mode {
        kReadArray,
        kReadStatus,
        kReadIdentifier,
        kEraseSetup,
        kBufferRequest,  // after 0xE8: reads answer the extended status
        kBufferData,     // count taken, data words coming
        kBufferConfirm,  // all data words taken, the confirm comes next
        kProgramSetup,
        kLockSetup,
    };

    struct StuckBits {
        uint16_t low;
        uint16_t high;
    };

    struct Chip {
        // State
        Mode mode = Mode::kReadArray;
        uint16_t errors = 0;  // status bits other than ready
        uint64_t busyPolls = 0;               // status reads until ready
        std::chrono::steady_clock::time_point busyUntil{};
        uint32_t setupBlock = 0;     // block of an erase setup or a buffer request
        bool bufferAvailable = false;
        uint32_t bufferExpected = 0;  // data words announced by the count
        uint32_t bufferWritten = 0;
        uint32_t bufferWindow = 0;    // first chip word of the 16-word window
        bool bufferBad = false;
        std::array<uint16_t, kFlashBufferWords> bufferData{};
        std::array<bool, kFlashBufferWords> bufferUsed{};
        std::array<bool, kFlashBlockCount> locked{};
        std::array<uint16_t, kFlashProtectionWords> protection{};
        // Configuration and knobs
        FlashTiming timing;
        uint64_t busyDuringExtra = 0;
        uint32_t bufferUnavailable = 0;
        std::unordered_map<uint32_t, uint32_t> eraseFaults;    // block -> times left
        std::unordered_map<uint32_t, uint32_t> programFaults;  // chip word -> times left
        std::unordered_map<uint32_t, StuckBits> stuckBits;     // chip word -> bits
        std::array<uint32_t, kFlashBlockCount> eraseCounts{};
        FlashActivity activity;  // counters only; mode and busy are filled in on request
    };

    uint16_t ReadLane(unsigned chip, uint32_t word);
    // true when the chip took the value as a command (or a count), not as data.
    bool WriteLane(unsigned chip, uint32_t word, uint16_t value);
    void Command(unsigned chip, uint32_t word, uint16_t value);
    void ConfirmErase(unsigned chip, uint32_t word, uint16_t value);
    void TakeBufferCount(unsigned chip, uint32_t word, uint16_t value);
    void TakeBufferData(unsigned chip, uint32_t word, uint16_t value);
    // A data word for both chips of a buffered program; false when either chip is not
    // simply waiting for one (the lanes then take it one by one).
    bool TakeDataWord(uint32_t word, uint32_t value);
    void ProgramBuffer(unsigned chip, uint32_t count);
    void RequestBuffer(unsigned chip, uint32_t word);
    void ConfirmBuffer(unsigned chip, uint32_t word, uint16_t value);
    void ProgramWord(unsigned chip, uint32_t word, uint16_t value);
    void FinishLockSetup(unsigned chip, uint32_t word, uint16_t value);
    void SequenceError(unsigned chip, uint32_t word, uint16_t value);

    bool IsBusy(const Chip& chip) const;
    void PollBusy(Chip& chip);
    void StartBusy(Chip& chip, uint32_t polls, std::chrono::microseconds time);
    // Counts an operation on `block` towards the power cut; true when this one is cut off.
    bool CountsTowardsPowerCut(uint32_t block);
    void Log(FlashOperationKind kind, unsigned chip, bool ok, uint32_t offset, uint32_t words);
    void Note(FlashNoteKind kind, unsigned chip, uint32_t word, uint16_t value);

    uint16_t ArrayWord(unsigned chip, uint32_t word) const;
    void SetArrayWord(unsigned chip, uint32_t word, uint16_t value);
    // Within one block.
    void EraseArrayWords(unsigned chip, uint32_t firstWord, uint32_t count);
    void ProgramArrayWord(unsigned chip, uint32_t word, uint16_t value);
    void ApplyStuckBits(unsigned chip, uint32_t firstWord, uint32_t count);
    void ApplyStuckBitsEverywhere(uint32_t firstWord, uint32_t count);
    bool ConsumeFault(std::unordered_map<uint32_t, uint32_t>& faults, uint32_t key);
    uint16_t IdentifierWord(const Chip& chip, uint32_t word) const;

    void CopyOut(uint32_t offset, uint32_t length, uint8_t* to) const;
    void CopyIn(uint32_t offset, const uint8_t* from, size_t length);

    // Where the array lives: memory of its own, or the state folder's file mapped shared
    // (flash_file.cpp). Shared with a sync running outside the lock.
    static std::shared_ptr<FlashStorage> MemoryStorage();
    // Takes `storage` whole (its lock bits and protection registers too); under the lock.
    void Adopt(std::shared_ptr<FlashStorage> storage, const std::array<bool, kFlashBlockCount>& touched);
    // The lock bits and protection registers into the storage's header page.
    void StoreLocks(unsigned chip);
    void StoreProtection(unsigned chip);
    // Writes the whole part to `path`; with `moveIn`, the model then lives in that file.
    void WriteWhole(const std::filesystem::path& path, bool moveIn);
    // Puts the blocks of the model's file written since the last sync onto the storage;
    // false (with the reason) when the kernel could not.
    bool SyncOwnFile(std::string* error);
    void ResetChips();

    mutable SpinLock mutex_;
    std::shared_ptr<FlashStorage> storage_;
    // The array in bus byte order, stored inverted: erased flash is the zero memory the host
    // hands out untouched (or a hole in the file), so a fresh 32 MiB part costs nothing until
    // it is written.
    uint8_t* cells_ = nullptr;
    std::array<bool, kFlashBlockCount> touched_{};  // blocks whose cells were ever written
    std::array<bool, kFlashBlockCount> dirty_{};    // written since the file was last synced
    bool headerDirty_ = false;                       // lock bits or protection changed since
    std::string syncFailure_;  // a sync at reset that failed, reported by the next Save
    std::array<Chip, kFlashChipCount> chips_;
    bool busyInTime_ = false;
    bool powerCut_ = false;
    uint64_t powerCutCountdown_ = 0;  // operations left before the cut; 0 = knob off
    bool powerCutArmed_ = false;
    uint32_t powerCutBlock_ = kNoPowerCutBlock;  // with powerCutArmed_: only this block counts
    static constexpr uint32_t kNoPowerCutBlock = ~0u;
    bool powerCutFired_ = false;  // set inside the lock, listeners run after it
    std::vector<std::function<void()>> powerCutListeners_;
    // FlashOperation packed: offset in the high half, then 24 bits of words, ok, chip, kind.
    ChunkedLog<uint64_t> operations_;
    std::vector<FlashNote> notes_;
    std::vector<FlashBusWrite> busWrites_;
    std::array<uint64_t, kFlashNoteKinds> noteCounts_{};
};

}  // namespace tova::hw
