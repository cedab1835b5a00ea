// Guest errors: accesses the emulated handheld's software should never make (an unmapped
// address, a misaligned word, a register that takes no bytes). They are recorded, not
// fatal, unless a test asks for them to be.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace tova::hw {

enum class GuestErrorKind {
    kUnmapped,      // no device at the address
    kMisaligned,    // address not a multiple of the access width
    kBadWidth,      // width other than 1, 2 or 4
    kDeviceAccess,  // a device refused the access (wrong width for a register, ...)
    kGuestCode,     // the guest's CPU did what the hardware forbids (a fetch from flash
                    // answering status, an undefined instruction, a jump out of its code)
};

const char* GuestErrorKindName(GuestErrorKind kind);

struct GuestError {
    GuestErrorKind kind;
    bool write;
    uint32_t address;  // bus address
    unsigned width;
    uint32_t value;      // written value, 0 for reads
    std::string device;  // name of the region, empty when unmapped
    std::string detail;
};

// One line, e.g. "unmapped write32 at 0xB0000000 value 0x00000001".
std::string Describe(const GuestError& error);

enum class GuestErrorAction {
    kLog,    // record and carry on (the default)
    kThrow,  // record, then throw GuestErrorException from the access
    kAbort,  // record, print, abort the process
};

class GuestErrorException : public std::runtime_error {
public:
    explicit GuestErrorException(GuestError error);
    const GuestError& Error() const { return error_; }

private:
    GuestError error_;
};

// Thread-safe. Keeps the first kKeptEntries errors and counts all of them, so that a
// runaway guest cannot exhaust the host's memory.
class GuestErrorLog {
public:
    static constexpr size_t kKeptEntries = 4096;

    // Records the error, then acts as SetAction says.
    void Record(GuestError error);

    std::vector<GuestError> Entries() const;
    uint64_t Count() const;
    uint64_t Count(GuestErrorKind kind) const;
    void Clear();

    void SetAction(GuestErrorAction action);
    // Called for every error (after recording, before any throw), e.g. to print it.
    void SetSink(std::function<void(const GuestError&)> sink);

private:
    mutable std::mutex mutex_;
    std::vector<GuestError> entries_;
    uint64_t counts_[5] = {};
    GuestErrorAction action_ = GuestErrorAction::kLog;
    std::function<void(const GuestError&)> sink_;
};

}  // namespace tova::hw
