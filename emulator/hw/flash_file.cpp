// The flash model's file in the state folder, and the memory the model keeps its array in.
//
// The model works in the file itself: mapped shared, every erase, program and lock change
// is in the kernel's page cache the moment the model makes it, so a process killed by any
// signal loses none of them. The header is written when the file is made and never again,
// and the array is checked by its size alone, so a file whose process was killed at any
// moment loads.
//
//     0  "TOVAFLSH"            magic
//     8  u32 format version    2
//    12  u32 array bytes       0x02000000
//    16  u32 chips             2
//    20  u32 blocks            128 (per chip, and 256 KiB bus blocks)
//    24  u32 array offset      4096
//    28  u32 CRC-32 of bytes 0 to 27
//    32  lock bits             one byte (0 or 1) per block, chip 0's blocks first
//   288  protection registers  9 little-endian u16 per chip
//  4096  the array, bus byte order, every bit inverted: erased flash reads as zeros, so the
//        blocks never written are holes that take no space
//
// Format 1, still read (the next save writes format 2): the same first 24 bytes with
// version 1, a CRC-32 of everything after the 32-byte header at 24, the number of stored
// blocks at 28, lock bits at 32, protection registers at 288, a map of the stored blocks
// (one byte per bus block, 1 = stored) at 324, and the stored blocks, not inverted, from 452.
//
// When the storage matters after a host crash: the model's Reset (each reset or power-on of
// the handheld, such as the one after a flashing) and each Save put the blocks written since
// onto the storage, one msync per run of blocks. In between, the kernel writes the mapped
// pages back on its own within its writeback interval; the flashing itself never waits.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <system_error>
#include <utility>

#include "emulator/files/atomic_file.h"
#include "emulator/hw/flash.h"

namespace tova::hw {
namespace {

constexpr char kMagic[8] = {'T', 'O', 'V', 'A', 'F', 'L', 'S', 'H'};
constexpr uint32_t kFormatVersion = 2;
constexpr size_t kHeaderBytes = 32;
constexpr size_t kCheckedHeaderBytes = 28;
constexpr size_t kLocksAt = 32;
constexpr size_t kLockBytes = kFlashChipCount * kFlashBlockCount;
constexpr size_t kProtectionAt = kLocksAt + kLockBytes;
constexpr size_t kProtectionBytes = kFlashChipCount * kFlashProtectionWords * 2;
constexpr size_t kArrayAt = 4096;  // a page: the array maps page-aligned
constexpr size_t kImageBytes = kArrayAt + kFlashArrayBytes;

constexpr uint32_t kFormat1 = 1;
constexpr size_t kFormat1MapAt = kProtectionAt + kProtectionBytes;
constexpr size_t kFormat1BlocksAt = kFormat1MapAt + kFlashBlockCount;

void PutU32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
}

uint32_t GetU32(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

// zlib starts a new checksum for a null buffer: an empty run must leave the running one alone.
uint32_t Crc(uint32_t crc, const uint8_t* data, size_t length) {
    if (length == 0) return crc;
    return uint32_t(crc32(crc, data, uInt(length)));
}

uint32_t Crc(const uint8_t* data, size_t length) { return Crc(uint32_t(crc32(0L, Z_NULL, 0)), data, length); }

[[noreturn]] void Fail(const std::filesystem::path& path, const std::string& reason) {
    throw FlashFileError("flash image '" + path.string() + "': " + reason);
}

void WriteHeader(uint8_t* page) {
    std::memcpy(page, kMagic, sizeof kMagic);
    PutU32(page + 8, kFormatVersion);
    PutU32(page + 12, kFlashArrayBytes);
    PutU32(page + 16, kFlashChipCount);
    PutU32(page + 20, kFlashBlockCount);
    PutU32(page + 24, kArrayAt);
    PutU32(page + 28, Crc(page, kCheckedHeaderBytes));
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

void ReadAt(int fd, const std::filesystem::path& path, uint8_t* to, size_t length, uint64_t offset) {
    for (size_t done = 0; done < length;) {
        ssize_t n = ::pread(fd, to + done, length - done, off_t(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Fail(path, std::string("cannot read: ") + std::strerror(errno));
        if (n == 0) Fail(path, "truncated while reading");
        done += size_t(n);
    }
}

void CheckLockBytes(const uint8_t* locks, const std::filesystem::path& path) {
    for (size_t i = 0; i < kLockBytes; ++i)
        if (locks[i] > 1) Fail(path, "corrupt (bad lock bit)");
}

// Blocks of the file's array that hold data; holes are erased flash. Every block when the
// file system cannot tell.
std::array<bool, kFlashBlockCount> BlocksWithData(int fd) {
    std::array<bool, kFlashBlockCount> blocks{};
    off_t at = kArrayAt;
    while (at < off_t(kImageBytes)) {
        off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0) {
            if (errno != ENXIO) blocks.fill(true);
            break;
        }
        off_t hole = ::lseek(fd, data, SEEK_HOLE);
        if (hole < 0) hole = off_t(kImageBytes);
        if (data < off_t(kArrayAt)) data = kArrayAt;
        for (off_t b = (data - off_t(kArrayAt)) / kFlashBusBlockBytes;
             b < off_t(kFlashBlockCount) && b * off_t(kFlashBusBlockBytes) + off_t(kArrayAt) < hole; ++b)
            blocks[size_t(b)] = true;
        at = hole;
    }
    return blocks;
}

}  // namespace

// The header page and the array, in one mapping: anonymous memory, the model's file mapped
// shared, or (a file the process may not write) a private copy of one.
struct FlashStorage {
    enum class Kind { kMemory, kOwnFile, kFileCopy };

    FlashStorage(uint8_t* mapping, Kind how) : base(mapping), kind(how) {}
    ~FlashStorage() {
        ::munmap(base, kImageBytes);
        if (fd >= 0) ::close(fd);
    }
    FlashStorage(const FlashStorage&) = delete;
    FlashStorage& operator=(const FlashStorage&) = delete;

    uint8_t* Cells() const { return base + kArrayAt; }
    bool InOwnFile() const { return kind == Kind::kOwnFile; }
    // `path` names this very file (not one put in its place since).
    bool IsAt(const std::filesystem::path& other) const {
        struct stat st {};
        return InOwnFile() && ::stat(other.c_str(), &st) == 0 && st.st_dev == device && st.st_ino == inode;
    }

    uint8_t* const base;
    const Kind kind;
    int fd = -1;  // kOwnFile: the file
    std::filesystem::path path;
    dev_t device = 0;
    ino_t inode = 0;
};

std::shared_ptr<FlashStorage> FlashModel::MemoryStorage() {
    void* base = ::mmap(nullptr, kImageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (base == MAP_FAILED) throw std::bad_alloc();
    auto storage = std::make_shared<FlashStorage>(static_cast<uint8_t*>(base), FlashStorage::Kind::kMemory);
    WriteHeader(storage->base);
    return storage;
}

namespace {

// Maps a checked format-2 file: shared when the process may write it, else a private copy.
std::shared_ptr<FlashStorage> MapFile(Descriptor& file, bool writable, const std::filesystem::path& path) {
    void* base = ::mmap(nullptr, kImageBytes, PROT_READ | PROT_WRITE, writable ? MAP_SHARED : MAP_PRIVATE,
                        file.Get(), 0);
    if (base == MAP_FAILED) Fail(path, std::string("cannot map: ") + std::strerror(errno));
    using Kind = FlashStorage::Kind;
    auto storage = std::make_shared<FlashStorage>(static_cast<uint8_t*>(base),
                                                         writable ? Kind::kOwnFile : Kind::kFileCopy);
    if (writable) {
        struct stat st {};
        ::fstat(file.Get(), &st);
        storage->device = st.st_dev;
        storage->inode = st.st_ino;
        storage->path = path;
        storage->fd = file.Release();
    }
    return storage;
}

}  // namespace

// ---- Loading -------------------------------------------------------------------------------

namespace {

struct Loaded {
    std::shared_ptr<FlashStorage> storage;
    std::array<bool, kFlashBlockCount> touched{};
};

Loaded LoadFormat2(Descriptor& file, bool writable, const uint8_t* header, uint64_t size,
                   const std::filesystem::path& path) {
    if (GetU32(header + 24) != kArrayAt || GetU32(header + 28) != Crc(header, kCheckedHeaderBytes))
        Fail(path, "corrupt (header checksum mismatch)");
    if (size != kImageBytes)
        Fail(path, "wrong size: " + std::to_string(size) + " bytes, expected " + std::to_string(kImageBytes));
    uint8_t locks[kLockBytes];
    ReadAt(file.Get(), path, locks, kLockBytes, kLocksAt);
    CheckLockBytes(locks, path);
    Loaded loaded;
    loaded.touched = BlocksWithData(file.Get());
    loaded.storage = MapFile(file, writable, path);
    return loaded;
}

// Cells hold the array inverted; a block read from a format-1 file is turned round in place.
void InvertBlock(uint8_t* block) {
    for (size_t i = 0; i < kFlashBusBlockBytes; i += 8) {
        uint64_t word;
        std::memcpy(&word, block + i, 8);
        word = ~word;
        std::memcpy(block + i, &word, 8);
    }
}

// Into `memory`, a fresh part in memory.
Loaded LoadFormat1(Descriptor& file, const uint8_t* header, uint64_t size, const std::filesystem::path& path,
                   std::shared_ptr<FlashStorage> memory) {
    uint32_t stored = GetU32(header + 28);
    if (stored > kFlashBlockCount) Fail(path, "corrupt (block count)");
    uint64_t expected = kFormat1BlocksAt + uint64_t(stored) * kFlashBusBlockBytes;
    if (size != expected)
        Fail(path, "wrong size: " + std::to_string(size) + " bytes, expected " + std::to_string(expected));
    uint8_t fixed[kFormat1BlocksAt - kHeaderBytes];
    ReadAt(file.Get(), path, fixed, sizeof fixed, kHeaderBytes);
    const uint8_t* locks = fixed;
    const uint8_t* map = fixed + (kFormat1MapAt - kHeaderBytes);
    uint32_t mapped = 0;
    for (uint32_t b = 0; b < kFlashBlockCount; ++b) {
        if (map[b] > 1) Fail(path, "corrupt (bad block map)");
        mapped += map[b];
    }
    if (mapped != stored) Fail(path, "corrupt (block map disagrees with the count)");
    CheckLockBytes(locks, path);

    Loaded loaded;
    loaded.storage = std::move(memory);
    uint8_t* cells = loaded.storage->Cells();
    uint32_t crc = Crc(fixed, sizeof fixed);
    uint64_t at = kFormat1BlocksAt;
    for (uint32_t b = 0; b < kFlashBlockCount; ++b) {
        if (!map[b]) continue;
        uint8_t* block = cells + size_t(b) * kFlashBusBlockBytes;
        ReadAt(file.Get(), path, block, kFlashBusBlockBytes, at);
        crc = Crc(crc, block, kFlashBusBlockBytes);
        at += kFlashBusBlockBytes;
        loaded.touched[b] = true;
    }
    if (crc != GetU32(header + 24)) Fail(path, "corrupt (checksum mismatch)");
    for (uint32_t b = 0; b < kFlashBlockCount; ++b)
        if (map[b]) InvertBlock(cells + size_t(b) * kFlashBusBlockBytes);
    std::memcpy(loaded.storage->base + kLocksAt, fixed, kLockBytes + kProtectionBytes);
    return loaded;
}

}  // namespace

void FlashModel::Load(const std::filesystem::path& path) {
    bool writable = true;
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
        writable = false;
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) Fail(path, std::string("cannot read: ") + std::strerror(errno));
    Descriptor file(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) Fail(path, std::string("cannot read: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) Fail(path, "cannot read: not a regular file");
    uint64_t size = uint64_t(st.st_size);
    if (size < kHeaderBytes) Fail(path, "too short to be a flash image (" + std::to_string(size) + " bytes)");

    uint8_t header[kHeaderBytes];
    ReadAt(fd, path, header, kHeaderBytes, 0);
    if (std::memcmp(header, kMagic, sizeof kMagic) != 0) Fail(path, "not a flash image (bad magic)");
    uint32_t version = GetU32(header + 8);
    if (version != kFormatVersion && version != kFormat1)
        Fail(path, "unsupported format version " + std::to_string(version));
    if (GetU32(header + 12) != kFlashArrayBytes || GetU32(header + 16) != kFlashChipCount ||
        GetU32(header + 20) != kFlashBlockCount)
        Fail(path, "made for a different flash geometry");
    Loaded loaded = version == kFormatVersion ? LoadFormat2(file, writable, header, size, path)
                                              : LoadFormat1(file, header, size, path, MemoryStorage());
    std::lock_guard lock(mutex_);
    Adopt(std::move(loaded.storage), loaded.touched);
    syncFailure_.clear();
    ApplyStuckBitsEverywhere(0, kFlashChipWords);
}

void FlashModel::Adopt(std::shared_ptr<FlashStorage> storage, const std::array<bool, kFlashBlockCount>& touched) {
    storage_ = std::move(storage);
    cells_ = storage_->Cells();
    touched_ = touched;
    dirty_.fill(false);
    headerDirty_ = false;
    const uint8_t* page = storage_->base;
    for (unsigned c = 0; c < kFlashChipCount; ++c) {
        for (uint32_t b = 0; b < kFlashBlockCount; ++b)
            chips_[c].locked[b] = page[kLocksAt + c * kFlashBlockCount + b] != 0;
        for (uint32_t i = 0; i < kFlashProtectionWords; ++i) {
            size_t at = kProtectionAt + (c * kFlashProtectionWords + i) * 2;
            chips_[c].protection[i] = uint16_t(page[at] | page[at + 1] << 8);
        }
    }
}

void FlashModel::StoreLocks(unsigned chip) {
    uint8_t* locks = storage_->base + kLocksAt + chip * kFlashBlockCount;
    for (uint32_t b = 0; b < kFlashBlockCount; ++b) locks[b] = chips_[chip].locked[b];
    headerDirty_ = true;
}

void FlashModel::StoreProtection(unsigned chip) {
    uint8_t* at = storage_->base + kProtectionAt + chip * kFlashProtectionWords * 2;
    for (uint32_t i = 0; i < kFlashProtectionWords; ++i) {
        at[2 * i] = uint8_t(chips_[chip].protection[i]);
        at[2 * i + 1] = uint8_t(chips_[chip].protection[i] >> 8);
    }
    headerDirty_ = true;
}

std::filesystem::path FlashModel::OwnFile() const {
    std::lock_guard lock(mutex_);
    return storage_->InOwnFile() ? storage_->path : std::filesystem::path{};
}

// ---- Saving --------------------------------------------------------------------------------

void FlashModel::Save(const std::filesystem::path& path) {
    std::shared_ptr<FlashStorage> storage;
    std::string failure;
    {
        std::lock_guard lock(mutex_);
        storage = storage_;
        failure = std::exchange(syncFailure_, {});
    }
    if (storage->IsAt(path)) {
        std::string error;
        if (!SyncOwnFile(&error)) Fail(path, error);
        if (!failure.empty()) Fail(path, failure);
        return;
    }
    // A model without a file of its own moves into the one it saves; so does a model whose
    // file was removed or replaced under it.
    WriteWhole(path, !storage->InOwnFile() || storage->path == path);
}

void FlashModel::WriteWhole(const std::filesystem::path& path, bool moveIn) {
    // One moment's state, copied under the lock: the header page and the written blocks.
    std::vector<uint8_t> page(kArrayAt);
    std::vector<uint8_t> blocks;
    std::vector<files::FilePiece> pieces;
    std::array<bool, kFlashBlockCount> written{};
    {
        std::lock_guard lock(mutex_);
        written = touched_;
        std::memcpy(page.data(), storage_->base, kArrayAt);
        size_t count = 0;
        for (bool t : touched_) count += t;
        blocks.resize(count * kFlashBusBlockBytes);
        uint8_t* to = blocks.data();
        for (uint32_t b = 0; b < kFlashBlockCount; ++b) {
            if (!touched_[b]) continue;
            std::memcpy(to, cells_ + size_t(b) * kFlashBusBlockBytes, kFlashBusBlockBytes);
            to += kFlashBusBlockBytes;
        }
        if (moveIn) dirty_.fill(false);  // from here on: what the new file does not hold
    }
    WriteHeader(page.data());  // the header as this version writes it, whatever the storage held
    pieces.push_back({0, page});
    for (uint32_t b = 0, i = 0; b < kFlashBlockCount; ++b) {
        if (!written[b]) continue;
        pieces.push_back({kArrayAt + uint64_t(b) * kFlashBusBlockBytes,
                          std::span<const uint8_t>(blocks).subspan(size_t(i++) * kFlashBusBlockBytes, kFlashBusBlockBytes)});
    }
    try {
        files::ReplaceFile(path, pieces, kImageBytes);
    } catch (const files::FileError& e) {
        if (moveIn) {
            std::lock_guard lock(mutex_);
            for (uint32_t b = 0; b < kFlashBlockCount; ++b) dirty_[b] = dirty_[b] || written[b];
        }
        Fail(path, e.what());
    }
    if (!moveIn) return;

    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) Fail(path, std::string("cannot open what was saved: ") + std::strerror(errno));
    Descriptor file(fd);
    std::shared_ptr<FlashStorage> into = MapFile(file, true, path);
    std::lock_guard lock(mutex_);
    // Whatever changed while the file was written goes over with the lock bits.
    std::memcpy(into->base + kLocksAt, storage_->base + kLocksAt, kLockBytes + kProtectionBytes);
    for (uint32_t b = 0; b < kFlashBlockCount; ++b)
        if (dirty_[b])
            std::memcpy(into->Cells() + size_t(b) * kFlashBusBlockBytes, cells_ + size_t(b) * kFlashBusBlockBytes,
                        kFlashBusBlockBytes);
    std::array<bool, kFlashBlockCount> touched = touched_, dirty = dirty_;
    Adopt(std::move(into), touched);
    dirty_ = dirty;
    headerDirty_ = true;  // the lock bits copied over
}

bool FlashModel::SyncOwnFile(std::string* error) {
    std::shared_ptr<FlashStorage> storage;
    std::array<bool, kFlashBlockCount> dirty{};
    bool header = false;
    {
        std::lock_guard lock(mutex_);
        if (!storage_->InOwnFile()) return true;
        storage = storage_;
        dirty = std::exchange(dirty_, {});
        header = std::exchange(headerDirty_, false);
    }
    bool ok = !header || ::msync(storage->base, kArrayAt, MS_SYNC) == 0;
    for (uint32_t b = 0; ok && b < kFlashBlockCount;) {
        if (!dirty[b]) {
            ++b;
            continue;
        }
        uint32_t end = b;
        while (end < kFlashBlockCount && dirty[end]) ++end;
        ok = ::msync(storage->Cells() + size_t(b) * kFlashBusBlockBytes, size_t(end - b) * kFlashBusBlockBytes,
                     MS_SYNC) == 0;
        b = end;
    }
    if (ok) return true;
    *error = std::string("cannot write: ") + std::strerror(errno);
    std::lock_guard lock(mutex_);
    if (storage_ == storage) {
        for (uint32_t b = 0; b < kFlashBlockCount; ++b) dirty_[b] = dirty_[b] || dirty[b];
        headerDirty_ = headerDirty_ || header;
    }
    return false;
}

// ---- Erasing the whole part ------------------------------------------------------------------

void FlashModel::EraseAll() {
    std::lock_guard lock(mutex_);
    bool cleared = false;
    if (storage_->InOwnFile()) {
        // Holes read as erased flash and give the space back.
        cleared = ::fallocate(storage_->fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, kArrayAt, kFlashArrayBytes) == 0;
    } else if (storage_->kind == FlashStorage::Kind::kMemory) {
        cleared = ::madvise(cells_, kFlashArrayBytes, MADV_DONTNEED) == 0;
    }
    for (uint32_t b = 0; b < kFlashBlockCount; ++b) {
        if (!cleared && touched_[b]) std::memset(cells_ + size_t(b) * kFlashBusBlockBytes, 0, kFlashBusBlockBytes);
        dirty_[b] = dirty_[b] || touched_[b];
    }
    touched_.fill(false);
    ApplyStuckBitsEverywhere(0, kFlashChipWords);
}

}  // namespace tova::hw
