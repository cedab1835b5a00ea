// Writing the twelve segment files into flash: the order, the retry policy and the end.
#pragma once

#include <cstdint>

#include "platform/wince/types.h"

inline constexpr uint32_t kGpioBase = 0xA9000000;
inline constexpr uint32_t kKernelPieceBytes = 0x80000;

// Where the retry message is formatted before it is drawn.
inline constexpr uint32_t kBufferPrintAreaBytes = 64;
extern char g_bufferPrintArea[kBufferPrintAreaBytes];

// The reserved RAM page of the detected model; chosen at start-up.
extern uint32_t g_reservedRamPage;

// RunFlashUpdate's results.
inline constexpr int kUpdateDone = 1;
inline constexpr int kUpdateUnlockFailed = 0;
inline constexpr int kUpdateNotPrepared = -1;  // the flash routines could not be placed

// Places the routines, quietens the memory controller, masks interrupts, unlocks and writes
// the segments in map order. Once interrupts are masked nothing sleeps.
int RunFlashUpdate();
// 0 once the whole file is in flash (a failed write starts the file again from its first
// byte, without limit); -1 when the file cannot be loaded.
int FlashSegmentFile(LPCWSTR path, uint32_t flashAddress);
// Like FlashSegmentFile, but from the end of the file to its start in half-megabyte
// pieces, each retried on its own; ends by driving the reset line (GPIO pin 21) low.
int FlashKernelFile(LPCWSTR path, uint32_t flashAddress);

// "Retry again ..E:0x%08x\n" with `status`, into `out` (at least 29 bytes).
void FormatRetryMessage(char* out, uint32_t status);
