// Routes the handheld's hardware accessors (wince/hw.h) and debug output to a board that a
// test owns, for the console and driver tests that need the hardware and nothing else.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tova/hw/board.h"

namespace flasher_test {

// One board serves every test of a binary (building 96 MiB of RAM and flash per test
// would dominate the run); each BoardUnderTest puts it back to a fresh state: flash
// erased, unlocked and free of faults, logs and debug lines empty, frames black.
class BoardUnderTest {
public:
    BoardUnderTest();
    ~BoardUnderTest();
    BoardUnderTest(const BoardUnderTest&) = delete;
    BoardUnderTest& operator=(const BoardUnderTest&) = delete;

    tova::hw::Board& Board() { return *board_; }
    tova::hw::Bus& Bus() { return board_->Bus(); }
    tova::hw::FlashModel& Flash() { return board_->Flash(); }
    tova::hw::Display& Display() { return board_->Display(); }
    bool InterruptsMasked() const;
    // NKDbgPrintfW lines, formatted.
    std::vector<std::u16string> DebugLines() const;

private:
    tova::hw::Board* board_;
};

}  // namespace flasher_test
