// The flash model's file in the state folder. Blocks that were never written since the
// part was fresh are left out, so that a mostly erased part makes a small file.
//
//    0  "TOVAFLSH"            magic
//    8  u32 format version    1
//   12  u32 array bytes       0x02000000
//   16  u32 chips             2
//   20  u32 blocks            128 (per chip, and 256 KiB bus blocks)
//   24  u32 CRC-32 of everything after the header
//   28  u32 stored blocks     how many blocks follow the block map
//   32  lock bits             one byte (0 or 1) per block, chip 0's blocks first
//  288  protection registers  9 little-endian u16 per chip
//  324  block map             one byte per bus block: 1 = its 256 KiB follow, 0 = erased
//  452  the stored blocks in ascending order, bus byte order
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <span>
#include <system_error>

#include "emulator/hw/flash.h"

namespace tova::hw {
namespace {

constexpr char kMagic[8] = {'T', 'O', 'V', 'A', 'F', 'L', 'S', 'H'};
constexpr uint32_t kFormatVersion = 1;
constexpr size_t kHeaderBytes = 32;
constexpr size_t kLockBytes = kFlashChipCount * kFlashBlockCount;
constexpr size_t kProtectionBytes = kFlashChipCount * kFlashProtectionWords * 2;
constexpr size_t kMapBytes = kFlashBlockCount;
constexpr size_t kFixedBytes = kLockBytes + kProtectionBytes + kMapBytes;
constexpr size_t kBlocksAt = kHeaderBytes + kFixedBytes;

void PutU32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
}

uint32_t GetU32(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

// zlib starts a new checksum for a null buffer: an empty part (no stored blocks, whose
// vector has no data) must leave the running one alone.
uint32_t Crc(uint32_t crc, const uint8_t* data, size_t length) {
    if (length == 0) return crc;
    return uint32_t(crc32(crc, data, uInt(length)));
}

[[noreturn]] void Fail(const std::filesystem::path& path, const std::string& reason) {
    throw FlashFileError("flash image '" + path.string() + "': " + reason);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct Fixed {
    uint8_t header[kHeaderBytes];
    uint8_t fixed[kFixedBytes];
    uint8_t* Locks() { return fixed; }
    uint8_t* Protection() { return fixed + kLockBytes; }
    uint8_t* Map() { return fixed + kLockBytes + kProtectionBytes; }
};

// Reads the stored blocks after the fixed part straight into their places in `cells`, as
// they are in the file (not yet inverted), and returns the CRC of the fixed part and the
// blocks.
uint32_t ReadBlocks(std::FILE* in, Fixed& f, const std::filesystem::path& path, uint8_t* cells) {
    if (std::fseek(in, long(kBlocksAt), SEEK_SET) != 0) Fail(path, "cannot seek");
    uint32_t crc = Crc(uint32_t(crc32(0L, Z_NULL, 0)), f.fixed, kFixedBytes);
    for (uint32_t b = 0; b < kFlashBlockCount; ++b) {
        if (!f.Map()[b]) continue;
        uint8_t* block = cells + size_t(b) * kFlashBusBlockBytes;
        if (std::fread(block, 1, kFlashBusBlockBytes, in) != kFlashBusBlockBytes) Fail(path, "truncated while reading");
        crc = Crc(crc, block, kFlashBusBlockBytes);
    }
    return crc;
}

// Cells hold the array inverted; a block read from the file is turned round in place.
void InvertBlock(uint8_t* block) {
    for (size_t i = 0; i < kFlashBusBlockBytes; i += 8) {
        uint64_t word;
        std::memcpy(&word, block + i, 8);
        word = ~word;
        std::memcpy(block + i, &word, 8);
    }
}

// Writes `parts` to path + ".tmp", puts it on the storage and renames it over `path`, so
// that neither a failure part-way nor a crash ever leaves a half-written file where the
// last good one was.
void ReplaceFile(const std::filesystem::path& path, std::initializer_list<std::span<const uint8_t>> parts) {
    std::filesystem::path temporary = path;
    temporary += ".tmp";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) Fail(temporary, std::string("cannot create: ") + std::strerror(errno));
    auto failWith = [&](const char* what) {
        int error = errno;
        ::close(fd);
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        Fail(temporary, std::string(what) + std::strerror(error));
    };
    for (std::span<const uint8_t> part : parts) {
        for (size_t done = 0; done < part.size();) {
            ssize_t n = ::write(fd, part.data() + done, part.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) failWith("cannot write: ");
            done += size_t(n);
        }
    }
    if (::fdatasync(fd) != 0) failWith("cannot write: ");
    if (::close(fd) != 0) {
        fd = -1;
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        Fail(temporary, std::string("cannot write: ") + std::strerror(errno));
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::filesystem::remove(temporary, error);
        Fail(path, "cannot replace: " + error.message());
    }
    // The rename itself is on the storage once the folder is.
    std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

}  // namespace

// Size and modification time: a file put there by anyone else is written again.
FlashModel::FileStamp FlashModel::StampOf(const std::filesystem::path& path) {
    std::error_code error;
    FileStamp stamp{std::filesystem::file_size(path, error), {}};
    if (error) return {};
    stamp.modified = std::filesystem::last_write_time(path, error);
    return error ? FileStamp{} : stamp;
}

// What a save writes, taken under the model's lock so that the file is one moment's state.
struct FlashModel::Snapshot {
    Fixed fixed{};
    std::vector<uint8_t> blocks;  // the stored blocks, bus byte order
};

bool FlashModel::TakeSnapshot(const std::filesystem::path& path, Snapshot& s) const {
    Fixed& f = s.fixed;
    std::memcpy(f.header, kMagic, sizeof kMagic);
    PutU32(&f.header[8], kFormatVersion);
    PutU32(&f.header[12], kFlashArrayBytes);
    PutU32(&f.header[16], kFlashChipCount);
    PutU32(&f.header[20], kFlashBlockCount);

    std::lock_guard lock(mutex_);
    if (!unsaved_ && savedAs_ == path && StampOf(path) == savedStamp_) return false;
    uint32_t stored = 0;
    for (unsigned c = 0; c < kFlashChipCount; ++c) {
        for (uint32_t b = 0; b < kFlashBlockCount; ++b) f.Locks()[c * kFlashBlockCount + b] = chips_[c].locked[b];
        for (uint32_t i = 0; i < kFlashProtectionWords; ++i) {
            uint16_t w = chips_[c].protection[i];
            f.Protection()[(c * kFlashProtectionWords + i) * 2] = uint8_t(w);
            f.Protection()[(c * kFlashProtectionWords + i) * 2 + 1] = uint8_t(w >> 8);
        }
    }
    for (uint32_t b = 0; b < kFlashBlockCount; ++b) {
        f.Map()[b] = touched_[b];
        stored += touched_[b];
    }
    PutU32(&f.header[28], stored);
    s.blocks.resize(size_t(stored) * kFlashBusBlockBytes);
    uint8_t* to = s.blocks.data();
    for (uint32_t b = 0; b < kFlashBlockCount; ++b) {
        if (!touched_[b]) continue;
        CopyOut(b * kFlashBusBlockBytes, kFlashBusBlockBytes, to);
        to += kFlashBusBlockBytes;
    }
    // Changes from here on make the model unsaved again; a failed save does too.
    unsaved_ = false;
    savedAs_ = path;
    return true;
}

void FlashModel::Save(const std::filesystem::path& path) const {
    Snapshot s;
    if (!TakeSnapshot(path, s)) return;
    try {
        uint32_t crc = Crc(uint32_t(crc32(0L, Z_NULL, 0)), s.fixed.fixed, kFixedBytes);
        crc = Crc(crc, s.blocks.data(), s.blocks.size());
        PutU32(&s.fixed.header[24], crc);
        ReplaceFile(path, {{reinterpret_cast<const uint8_t*>(&s.fixed), sizeof s.fixed},
                           {s.blocks.data(), s.blocks.size()}});
        FileStamp stamp = StampOf(path);
        std::lock_guard lock(mutex_);
        savedStamp_ = stamp;
    } catch (...) {
        std::lock_guard lock(mutex_);
        unsaved_ = true;
        throw;
    }
}

void FlashModel::Load(const std::filesystem::path& path) {
    std::error_code error;
    auto size = std::filesystem::file_size(path, error);
    if (error) Fail(path, "cannot read: " + error.message());
    if (size < kHeaderBytes) Fail(path, "too short to be a flash image (" + std::to_string(size) + " bytes)");
    // Taken first: a file replaced while it is read then counts as someone else's.
    FileStamp stamp = StampOf(path);
    File in(std::fopen(path.c_str(), "rb"));
    if (!in) Fail(path, std::string("cannot open: ") + std::strerror(errno));

    Fixed f{};
    if (std::fread(f.header, 1, kHeaderBytes, in.get()) != kHeaderBytes) Fail(path, "cannot read the header");
    if (std::memcmp(f.header, kMagic, sizeof kMagic) != 0) Fail(path, "not a flash image (bad magic)");
    if (GetU32(&f.header[8]) != kFormatVersion)
        Fail(path, "unsupported format version " + std::to_string(GetU32(&f.header[8])));
    if (GetU32(&f.header[12]) != kFlashArrayBytes || GetU32(&f.header[16]) != kFlashChipCount ||
        GetU32(&f.header[20]) != kFlashBlockCount)
        Fail(path, "made for a different flash geometry");
    uint32_t stored = GetU32(&f.header[28]);
    if (stored > kFlashBlockCount) Fail(path, "corrupt (block count)");
    uint64_t expected = kBlocksAt + uint64_t(stored) * kFlashBusBlockBytes;
    if (size != expected)
        Fail(path, "wrong size: " + std::to_string(size) + " bytes, expected " + std::to_string(expected));
    if (std::fread(f.fixed, 1, kFixedBytes, in.get()) != kFixedBytes) Fail(path, "truncated while reading");

    uint32_t mapped = 0;
    for (uint32_t b = 0; b < kFlashBlockCount; ++b) {
        if (f.Map()[b] > 1) Fail(path, "corrupt (bad block map)");
        mapped += f.Map()[b];
    }
    if (mapped != stored) Fail(path, "corrupt (block map disagrees with the count)");
    for (size_t i = 0; i < kLockBytes; ++i)
        if (f.Locks()[i] > 1) Fail(path, "corrupt (bad lock bit)");

    // One pass into fresh cells; the model takes them only once the whole file checks out.
    std::unique_ptr<uint8_t[], FreeCells> cells(static_cast<uint8_t*>(std::calloc(kFlashArrayBytes, 1)));
    if (!cells) throw std::bad_alloc();
    if (ReadBlocks(in.get(), f, path, cells.get()) != GetU32(&f.header[24])) Fail(path, "corrupt (checksum mismatch)");
    for (uint32_t b = 0; b < kFlashBlockCount; ++b)
        if (f.Map()[b]) InvertBlock(cells.get() + size_t(b) * kFlashBusBlockBytes);

    std::lock_guard lock(mutex_);
    cells_ = std::move(cells);
    savedAs_ = path;
    savedStamp_ = stamp;
    unsaved_ = false;
    for (uint32_t b = 0; b < kFlashBlockCount; ++b) touched_[b] = f.Map()[b] != 0;
    for (unsigned c = 0; c < kFlashChipCount; ++c) {
        for (uint32_t b = 0; b < kFlashBlockCount; ++b) chips_[c].locked[b] = f.Locks()[c * kFlashBlockCount + b] != 0;
        for (uint32_t i = 0; i < kFlashProtectionWords; ++i) {
            size_t at = (c * kFlashProtectionWords + i) * 2;
            chips_[c].protection[i] = uint16_t(f.Protection()[at] | f.Protection()[at + 1] << 8);
        }
    }
    ApplyStuckBitsEverywhere(0, kFlashChipWords);
}

}  // namespace tova::hw
