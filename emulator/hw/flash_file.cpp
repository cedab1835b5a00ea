// The flash model's file in the state folder: a 32-byte header, the lock bits, the
// protection registers and the array, guarded by a CRC-32.
//
//   0  "TOVAFLSH"          magic
//   8  u32 format version  1
//  12  u32 array bytes     0x02000000
//  16  u32 chips           2
//  20  u32 blocks per chip 128
//  24  u32 CRC-32 of everything after the header
//  28  u32 reserved        0
//  32  lock bits, one byte (0 or 1) per block, chip 0's blocks first
//      protection registers, 9 little-endian u16 per chip
//      the array in bus byte order
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

#include "tova/hw/flash.h"

namespace tova::hw {
namespace {

constexpr char kMagic[8] = {'T', 'O', 'V', 'A', 'F', 'L', 'S', 'H'};
constexpr uint32_t kFormatVersion = 1;
constexpr size_t kHeaderBytes = 32;
constexpr size_t kLockBytes = kFlashChipCount * kFlashBlockCount;
constexpr size_t kProtectionBytes = kFlashChipCount * kFlashProtectionWords * 2;
constexpr size_t kFileBytes = kHeaderBytes + kLockBytes + kProtectionBytes + kFlashArrayBytes;

void PutU32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
}

uint32_t GetU32(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

uint32_t Crc(const uint8_t* data, size_t length) {
    uLong crc = crc32(0L, Z_NULL, 0);
    while (length > 0) {
        uInt piece = uInt(std::min<size_t>(length, 1u << 30));
        crc = crc32(crc, data, piece);
        data += piece;
        length -= piece;
    }
    return uint32_t(crc);
}

[[noreturn]] void Fail(const std::filesystem::path& path, const std::string& reason) {
    throw FlashFileError("flash image '" + path.string() + "': " + reason);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

void FlashModel::Save(const std::filesystem::path& path) const {
    std::vector<uint8_t> file(kFileBytes);
    {
        std::lock_guard lock(mutex_);
        uint8_t* locks = file.data() + kHeaderBytes;
        uint8_t* protection = locks + kLockBytes;
        for (unsigned c = 0; c < kFlashChipCount; ++c) {
            for (uint32_t b = 0; b < kFlashBlockCount; ++b) locks[c * kFlashBlockCount + b] = chips_[c].locked[b];
            for (uint32_t i = 0; i < kFlashProtectionWords; ++i) {
                uint16_t w = chips_[c].protection[i];
                protection[(c * kFlashProtectionWords + i) * 2] = uint8_t(w);
                protection[(c * kFlashProtectionWords + i) * 2 + 1] = uint8_t(w >> 8);
            }
        }
        CopyOut(0, kFlashArrayBytes, protection + kProtectionBytes);
    }
    std::memcpy(file.data(), kMagic, sizeof kMagic);
    PutU32(&file[8], kFormatVersion);
    PutU32(&file[12], kFlashArrayBytes);
    PutU32(&file[16], kFlashChipCount);
    PutU32(&file[20], kFlashBlockCount);
    PutU32(&file[24], Crc(file.data() + kHeaderBytes, kFileBytes - kHeaderBytes));
    PutU32(&file[28], 0);

    // Written beside the target and renamed over it, so that a failure part-way never
    // leaves a half-written image where the last good one was.
    std::filesystem::path temporary = path;
    temporary += ".tmp";
    {
        File out(std::fopen(temporary.c_str(), "wb"));
        if (!out) Fail(temporary, std::string("cannot create: ") + std::strerror(errno));
        bool ok = std::fwrite(file.data(), 1, file.size(), out.get()) == file.size();
        ok = std::fflush(out.get()) == 0 && ok;
        if (!ok) {
            int error = errno;
            out.reset();
            std::filesystem::remove(temporary);
            Fail(temporary, std::string("cannot write: ") + std::strerror(error));
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::filesystem::remove(temporary);
        Fail(path, "cannot replace: " + error.message());
    }
}

void FlashModel::Load(const std::filesystem::path& path) {
    std::error_code error;
    auto size = std::filesystem::file_size(path, error);
    if (error) Fail(path, "cannot read: " + error.message());
    if (size < kHeaderBytes) Fail(path, "too short to be a flash image (" + std::to_string(size) + " bytes)");

    std::vector<uint8_t> file(kFileBytes);
    File in(std::fopen(path.c_str(), "rb"));
    if (!in) Fail(path, std::string("cannot open: ") + std::strerror(errno));
    size_t got = std::fread(file.data(), 1, kHeaderBytes, in.get());
    if (got != kHeaderBytes) Fail(path, "cannot read the header");
    if (std::memcmp(file.data(), kMagic, sizeof kMagic) != 0) Fail(path, "not a flash image (bad magic)");
    if (GetU32(&file[8]) != kFormatVersion)
        Fail(path, "unsupported format version " + std::to_string(GetU32(&file[8])));
    if (GetU32(&file[12]) != kFlashArrayBytes || GetU32(&file[16]) != kFlashChipCount ||
        GetU32(&file[20]) != kFlashBlockCount)
        Fail(path, "made for a different flash geometry");
    if (size != kFileBytes)
        Fail(path, "wrong size: " + std::to_string(size) + " bytes, expected " + std::to_string(kFileBytes));
    got = std::fread(file.data() + kHeaderBytes, 1, kFileBytes - kHeaderBytes, in.get());
    if (got != kFileBytes - kHeaderBytes) Fail(path, "truncated while reading");
    if (Crc(file.data() + kHeaderBytes, kFileBytes - kHeaderBytes) != GetU32(&file[24]))
        Fail(path, "corrupt (checksum mismatch)");
    const uint8_t* locks = file.data() + kHeaderBytes;
    const uint8_t* protection = locks + kLockBytes;
    for (size_t i = 0; i < kLockBytes; ++i)
        if (locks[i] > 1) Fail(path, "corrupt (bad lock bit)");

    std::lock_guard lock(mutex_);
    for (unsigned c = 0; c < kFlashChipCount; ++c) {
        for (uint32_t b = 0; b < kFlashBlockCount; ++b) chips_[c].locked[b] = locks[c * kFlashBlockCount + b] != 0;
        for (uint32_t i = 0; i < kFlashProtectionWords; ++i) {
            size_t at = (c * kFlashProtectionWords + i) * 2;
            chips_[c].protection[i] = uint16_t(protection[at] | protection[at + 1] << 8);
        }
    }
    CopyIn(0, protection + kProtectionBytes, kFlashArrayBytes);
    ApplyStuckBitsEverywhere(0, kFlashChipWords);
}

}  // namespace tova::hw
