// Command and status words of the handheld's flash: two x16 devices side by side on a
// 32-bit bus, Intel command set. Each command byte goes to both devices at once, so it is
// written as one word carrying the byte in both 16-bit halves; status reads the same way.
#pragma once

#include <cstdint>

#include "shared/flash_map.h"

constexpr uint32_t BothDevices(uint16_t byte) { return uint32_t(byte) | (uint32_t(byte) << 16); }

inline constexpr uint32_t kCmdReadArray = BothDevices(0xFF);
inline constexpr uint32_t kCmdReadStatus = BothDevices(0x70);
inline constexpr uint32_t kCmdClearStatus = BothDevices(0x50);
inline constexpr uint32_t kCmdReadIdentifier = BothDevices(0x90);
inline constexpr uint32_t kCmdBlockErase = BothDevices(0x20);
inline constexpr uint32_t kCmdConfirm = BothDevices(0xD0);
inline constexpr uint32_t kCmdWriteToBuffer = BothDevices(0xE8);
inline constexpr uint32_t kCmdWordProgram = BothDevices(0x40);
inline constexpr uint32_t kCmdLockSetup = BothDevices(0x60);
inline constexpr uint32_t kCmdClearLockBits = BothDevices(0xD0);  // after kCmdLockSetup
inline constexpr uint32_t kCmdSetLockBit = BothDevices(0x01);     // after kCmdLockSetup

// Status register bits, in both halves.
inline constexpr uint32_t kStatusReady = BothDevices(0x80);         // bit 7: ready / buffer free
inline constexpr uint32_t kStatusEraseError = BothDevices(0x20);    // bit 5
inline constexpr uint32_t kStatusProgramError = BothDevices(0x10);  // bit 4
inline constexpr uint32_t kStatusVppLow = BothDevices(0x08);        // bit 3
inline constexpr uint32_t kStatusLocked = BothDevices(0x02);        // bit 1
// An operation that ends with any of these set in either device did not do its job.
inline constexpr uint32_t kStatusErrors =
    kStatusEraseError | kStatusProgramError | kStatusVppLow | kStatusLocked;

// Identifier-mode word offsets (32-bit words from the addressed block).
inline constexpr uint32_t kIdBlockLockStatusWord = 2;
inline constexpr uint32_t kIdProtectionFactoryFirst = 0x81;
inline constexpr uint32_t kIdProtectionFactoryWords = 4;

// Buffered writes: 16 bus words, 64 bytes, 32 in each device.
inline constexpr uint32_t kWriteBufferWords = 16;
inline constexpr uint32_t kWriteBufferBytes = kWriteBufferWords * 4;

// Result codes.
inline constexpr uint32_t kFlashOk = 0;
inline constexpr uint32_t kFlashProgramFailed = 17;  // buffered write; also OTP not ready
inline constexpr uint32_t kFlashNotFixedUp = 21;     // parameters unset, or no chip routine
inline constexpr uint32_t kFlashOperationFailed = 34;  // erase, word program or lock: not
                                                      // finished, or an error reported
inline constexpr uint32_t kFlashOutOfRange = 87;

// kFlashUncachedBit (shared/flash_map.h): the cached flash window is the same address with
// it clear.
