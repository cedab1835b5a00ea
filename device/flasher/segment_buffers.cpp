#include "device/flasher/segment_buffers.h"

#include "device/flasher/flash_driver.h"
#include "shared/configuration.h"
#include "platform/wince/api.h"
#include "platform/wince/hw.h"

SegmentBufferTable g_segmentBuffers = {};
uint32_t g_segmentBufferCount = 0;

namespace {

constexpr DWORD kLockReadWrite = LOCKFLAG_READ | LOCKFLAG_WRITE;

// log2 of the page size. Only 4096 and 1024 byte pages occur; with any other size the
// page list could not be sized from it, so no buffer is offered (0).
uint32_t PageShift() {
    SYSTEM_INFO info = {};
    GetSystemInfo(&info);
    if (info.dwPageSize == 4096) return 12;
    if (info.dwPageSize == 1024) return 10;
    return 0;
}

// The page list holds physical addresses; consecutive page numbers mean contiguous RAM.
bool IsContiguous(const DWORD* pages, uint32_t count, uint32_t shift) {
    for (uint32_t i = 1; i < count; ++i)
        if ((pages[i] >> shift) != (pages[i - 1] >> shift) + 1) return false;
    return true;
}

void ReleaseReservation(LPVOID address, uint32_t size, bool locked) {
    if (locked) UnlockPages(address, size);
    VirtualFree(address, 0, MEM_RELEASE);
}

HANDLE OpenForReading(LPCWSTR path) {
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool EnsureBuffers(uint32_t chunks) {
    while (g_segmentBufferCount < chunks) {
        uint32_t physical = 0;
        LPVOID process = AllocContiguousBuffer(kSegmentBufferBytes, &physical);
        if (process == nullptr) return false;
        g_segmentBuffers.processAddress[g_segmentBufferCount] = process;
        g_segmentBuffers.kernelAddress[g_segmentBufferCount] = physical - kPhysicalToKernelCached;
        ++g_segmentBufferCount;
    }
    return true;
}

uint32_t BufferAddress(uint32_t fileOffset) {
    return g_segmentBuffers.kernelAddress[fileOffset / kSegmentBufferBytes] +
           fileOffset % kSegmentBufferBytes;
}

bool ReadIntoBuffers(HANDLE file, uint32_t size) {
    for (uint32_t offset = 0; offset < size; offset += kSegmentReadPieceBytes) {
        uint32_t piece = size - offset < kSegmentReadPieceBytes ? size - offset : kSegmentReadPieceBytes;
        void* target = HwHostPointer(BufferAddress(offset), piece);
        DWORD read = 0;
        if (target == nullptr || !ReadFile(file, target, piece, &read, nullptr) || read != piece)
            return false;
    }
    return true;
}

// Buffered writes always cover 64 bytes; past the end of the file they would otherwise
// program whatever an earlier segment left in the buffer. Erased value: programs nothing.
void PadToWriteBuffer(uint32_t size) {
    uint32_t padded = (size + kWriteBufferBytes - 1) / kWriteBufferBytes * kWriteBufferBytes;
    for (uint32_t offset = size; offset < padded; ++offset) HwWrite8(BufferAddress(offset), 0xFF);
}

}  // namespace

LPVOID AllocContiguousBuffer(uint32_t size, uint32_t* physicalAddress) {
    *physicalAddress = 0;
    const uint32_t shift = PageShift();
    if (shift == 0 || size == 0) return nullptr;
    const uint32_t pageCount = ((size - 1) >> shift) + 1;
    DWORD* pages = static_cast<DWORD*>(LocalAlloc(LMEM_FIXED, pageCount * sizeof(DWORD)));
    if (pages == nullptr) return nullptr;

    LPVOID setAside[kSetAsideSlots];
    uint32_t setAsideCount = 0;
    LPVOID result = nullptr;
    for (;;) {
        LPVOID address = VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE | PAGE_NOCACHE);
        if (address == nullptr) break;
        if (!LockPages(address, size, pages, kLockReadWrite)) {
            ReleaseReservation(address, size, false);
            break;
        }
        if (IsContiguous(pages, pageCount, shift)) {
            *physicalAddress = (pages[0] >> shift) << shift;
            result = address;
            break;
        }
        if (setAsideCount == kSetAsideSlots) {  // give up rather than hold more
            ReleaseReservation(address, size, true);
            break;
        }
        setAside[setAsideCount++] = address;
    }
    while (setAsideCount > 0) ReleaseReservation(setAside[--setAsideCount], size, true);
    LocalFree(pages);
    return result;
}

uint32_t GetSegmentFileSize(LPCWSTR path) {
    HANDLE file = OpenForReading(path);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD size = GetFileSize(file, nullptr);
    CloseHandle(file);
    return size == INVALID_FILE_SIZE ? 0 : size;
}

int LoadSegmentFile(LPCWSTR path, uint32_t flashAddress, uint32_t* size) {
    const uint32_t bytes = GetSegmentFileSize(path);
    if (bytes == 0) return -1;
    const uint32_t chunks = bytes / kSegmentBufferBytes + (bytes % kSegmentBufferBytes ? 1 : 0);
    const uint64_t flashEnd = uint64_t(g_flashParameters.flashStart) + g_flashParameters.flashLength;
    if (chunks > kSegmentBufferSlots || uint64_t(flashAddress) + bytes > flashEnd) return -1;
    if (!EnsureBuffers(chunks)) return -1;

    HANDLE file = OpenForReading(path);
    if (file == INVALID_HANDLE_VALUE) return -1;
    bool read = ReadIntoBuffers(file, bytes);
    CloseHandle(file);
    if (!read) return -1;
    PadToWriteBuffer(bytes);
    *size = bytes;
    return 0;
}
