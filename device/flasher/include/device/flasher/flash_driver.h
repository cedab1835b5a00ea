// Erasing and programming the handheld's flash (two x16 devices, Intel command set).
// Every routine leaves the devices in read-array mode, whatever the outcome, except the
// time-outs of FlashWriteWord and FlashLockBlock, which leave them answering status.
#pragma once

#include <cstdint>

#include "device/flasher/flash_commands.h"

struct FlashParameters {
    uint32_t flashStart;   // uncached window
    uint32_t flashLength;
    uint32_t blockSize;    // one erase block in each device, side by side
};
// Initialised data: the flash map's window and geometry. 0xFFFFFFFF would mean "not fixed up".
extern FlashParameters g_flashParameters;

// Status reads before an operation counts as timed out.
struct FlashPollLimits {
    uint32_t operation;  // erase, buffered write, word program, lock, protection register
    uint32_t unlock;
};
// 0x7FFFFFFF and 0x0FFFFFFF. A count of reads, not a time: the routines run with
// interrupts masked and nothing to measure time with.
extern FlashPollLimits g_flashPollLimits;

// Status word of the last buffered write that failed; 0 until one does.
extern uint32_t g_lastFlashStatus;

// Where FlashPrepare puts the routines (cached RAM window); chosen by model at start-up.
extern uint32_t g_flashRoutineArea;

// The four routines of the update path as they are called once placed in RAM.
struct FlashRoutines {
    uint32_t (*eraseBlock)(uint32_t blockAddress);
    uint32_t (*eraseRange)(uint32_t address, uint32_t length);
    uint32_t (*writeBuffer)(uint32_t flashAddress, uint32_t source, uint32_t wordCount);
    uint32_t (*programRange)(uint32_t address, uint32_t source, uint32_t length,
                             uint32_t gpioBase, uint32_t finalStep);
    // The console print of the erase marks "E" and "e": the one call out of the area, made
    // through this absolute address once the devices are back in read-array mode.
    void (*printMark)(uint16_t colour, const char* format, ...);
    // Where each routine's copy lies in the routine area, and its length in bytes.
    uint32_t areaAddress[4];
    uint32_t areaBytes[4];
};
extern FlashRoutines g_flashRoutines;

// Places the four routines in g_flashRoutineArea and records them in g_flashRoutines.
// 0 on success; 21 when the area is not RAM or cannot hold them.
uint32_t FlashPrepare();
// Masks IRQ and FIQ for the rest of the program.
void DisableInterrupts();

// Clears the lock bits of every block of both devices through one block: 0, or the last
// status word read when the devices did not become ready.
uint32_t FlashUnlock(uint32_t blockAddress);
// 0, or 34 when the devices were not ready, did not finish or reported the erase failed.
uint32_t FlashEraseBlock(uint32_t blockAddress);
// Erases every block that [address, address + length) touches: 0 or the first error.
uint32_t FlashEraseRange(uint32_t address, uint32_t length);
// One buffered write of wordCount 32-bit words read from RAM at `source` (a kernel
// address): 0, or 17 with the status word in g_lastFlashStatus.
uint32_t FlashWriteBuffer(uint32_t flashAddress, uint32_t source, uint32_t wordCount);
// Erases and programs a range in 64-byte writes (the last one always full). With
// finalStep 1 and a GPIO base, drives GPIO pin 21 low afterwards.
uint32_t FlashProgramRange(uint32_t address, uint32_t source, uint32_t length, uint32_t gpioBase,
                           uint32_t finalStep);

// Outside the update path.
uint32_t FlashWriteWord(uint32_t address, uint32_t value);
uint32_t FlashLockBlock(uint32_t blockAddress);
// 0 with the enclosing blocks, 21 when the parameters are not fixed up, 87 when the
// range does not lie inside the flash.
uint32_t FlashGetBlockInfo(uint32_t start, uint32_t length, uint32_t* blockStart,
                           uint32_t* blockLength);

// Reads the four factory words of the lower device's protection register (8 bytes).
typedef uint32_t (*FlashOtpRoutine)(uint16_t* destination);
// The chip routine: 0, or 17 when the devices are not ready.
uint32_t FlashReadProtectionRegister(uint16_t* destination);
// Nothing in the flasher installs a routine; a platform that wants FlashReadOTP to work
// installs FlashReadProtectionRegister (or its own) here.
void FlashInstallOtpRoutine(FlashOtpRoutine routine);
// Debug-lined entry: 21 with no routine installed, else the routine's result.
uint32_t FlashReadOTP(uint16_t* destination);
