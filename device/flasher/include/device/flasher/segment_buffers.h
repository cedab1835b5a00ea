// RAM that segment files are loaded into: physically contiguous 1 MiB buffers, set aside
// on demand and kept until the program ends, so that the flash routines read the data
// through the kernel's static window with no page faults.
#pragma once

#include <cstdint>

#include "platform/wince/types.h"

inline constexpr uint32_t kSegmentBufferBytes = 0x100000;
inline constexpr uint32_t kSegmentBufferSlots = 64;
// Pieces in which a file is read into its buffers.
inline constexpr uint32_t kSegmentReadPieceBytes = 0x8000;
// Reservations AllocContiguousBuffer may hold aside while it looks for a contiguous one.
inline constexpr uint32_t kSetAsideSlots = 64;

struct SegmentBufferTable {
    // Buffer i in the kernel's cached static RAM window (physical - 0x1C000000); holds
    // bytes i * 1 MiB .. i * 1 MiB + 0xFFFFF of the file being written.
    uint32_t kernelAddress[kSegmentBufferSlots];
    // What VirtualAlloc answered for it in this process.
    LPVOID processAddress[kSegmentBufferSlots];
};
extern SegmentBufferTable g_segmentBuffers;
extern uint32_t g_segmentBufferCount;

// A buffer of `size` bytes whose pages are physically contiguous, with its physical
// address in *physicalAddress; null (and 0) when none can be had. Reservations that are
// not contiguous are held aside while it looks further, and released before it returns;
// when the set-aside list is full it gives up.
LPVOID AllocContiguousBuffer(uint32_t size, uint32_t* physicalAddress);

// Size in bytes of a file, 0 when it cannot be opened.
uint32_t GetSegmentFileSize(LPCWSTR path);

// Reads a segment file into the buffers, adding buffers as needed. 0 with its size in
// *size, or -1 when it is absent, empty, unreadable, would not fit in the buffers or would
// run past the end of the flash from flashAddress, or no buffer can be had.
int LoadSegmentFile(LPCWSTR path, uint32_t flashAddress, uint32_t* size);
