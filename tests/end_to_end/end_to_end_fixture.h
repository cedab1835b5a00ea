// One end-to-end case: a handheld of its own run by tova-emu in a child process, and setup
// installed in a program folder of its own, run unattended against that handheld's link.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "handheld_process.h"
#include "program_files.h"
#include "setup_program.h"
#include "shared/flash_map.h"
#include "shared/segment_table.h"

namespace e2e {

// Where a package's segments land: from 0xA0040000, the package from its offset 512.
inline constexpr uint32_t kImageOffset = kImageFlashAddress - kFlashStart;

// setup's exit statuses, as its README documents them for scripts that run it unattended.
inline constexpr int kSetupUpdated = 0, kSetupFailed = 1, kSetupRefused = 3, kSetupNoHandheld = 4;

class EndToEnd : public ::testing::Test {
protected:
    HandheldProcess handheld_{TestFolder("handheld")};
    SetupProgram setup_{TestFolder("program")};

    // Creates the handheld with `options`, runs it and waits for its link.
    void StartHandheld(const std::vector<std::string>& options = {}) {
        handheld_.Create(options);
        handheld_.Run();
        ASSERT_TRUE(handheld_.WaitUntilLinked()) << handheld_.RunOutput();
    }
    std::vector<uint8_t> WholeFlash() { return handheld_.Flash(0, kFlashBytes); }
    std::vector<uint8_t> ImageInFlash() { return handheld_.Flash(kImageOffset, kPackageSegmentsBytes); }
    child::Outcome RunSetup() { return setup_.RunUnattended(handheld_.Endpoint()); }
};

// The transcript holds `line` (a whole line or a part of one).
::testing::AssertionResult Says(const child::Outcome& run, const std::string& line);
::testing::AssertionResult NeverSays(const child::Outcome& run, const std::string& line);

// tova-emu info's erase counts after one update without errors: every block of the image
// erased once on each chip.
std::string ErasesOfOneCleanImage();

// A cold-booted store as the wizard leaves it after reading the returned handheld's build:
// with the service library it copied there for that.
std::vector<std::string> WithServiceLibrary(std::vector<std::string> store);

// "0x05260300" as tova-emu info prints a ROM build.
std::string HexWord(uint32_t value);

}  // namespace e2e
