#include "device/service/checksum_verification.h"

#include "platform/wince/api.h"

// Reads the open file whole into one buffer and checksums it; 0 for anything that keeps
// the library from seeing every byte.
static SegmentChecksum ChecksumOpenFile(HANDLE file) {
    const DWORD length = GetFileSize(file, nullptr);
    if (length == 0 || length == INVALID_FILE_SIZE) return 0;
    // One byte more than the file, as the segment reader always had.
    BYTE* buffer = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, length + 1));
    if (buffer == nullptr) return 0;
    DWORD read = 0;
    SegmentChecksum sum = 0;
    // A short read would leave bytes unseen, so it counts as a failed read.
    if (ReadFile(file, buffer, length, &read, nullptr) && read == length) {
        sum = ChecksumBytes(buffer, length);
    }
    LocalFree(buffer);
    return sum;
}

SegmentChecksum FileChecksum(LPCWSTR path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    const SegmentChecksum sum = ChecksumOpenFile(file);
    CloseHandle(file);
    return sum;
}

bool SegmentChecksumsMatch(bool advanced) {
    for (const ExpectedChecksum& row : ExpectedChecksums) {
        if (FileChecksum(row.path) != ExpectedChecksumFor(row, advanced)) return false;
    }
    return true;
}
