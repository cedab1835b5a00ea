// A handheld run by `tova-emu run` in a child process whose screen shows the flasher: the
// real Velkor.exe put in its start-up folder (with, if asked, one small segment file for
// it to write) and a warm reset, so that the banner blinks and the progress lines follow.
// The handheld's clock runs at scale 0.05: the banner shows for three seconds.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tova_emu_program.h"

namespace tova::testing {

inline constexpr const char* kFlasherTimeScale = "0.05";

// The banner's text cells: line 9, columns 6 to 23 ("System updating..."), in pixels.
inline constexpr int kBannerTop = 9 * 15, kBannerBottom = 10 * 15;
inline constexpr int kBannerLeft = 6 * 8, kBannerRight = 24 * 8;

// The colour the banner is drawn in on this screen (RGB565), or 0xFFFF when the screen does
// not show the banner alone: text only in the banner's cells, all in one of its colours.
inline uint16_t BannerColour(const std::vector<uint16_t>& screen, int width = 240,
                             int height = 320) {
    if (screen.size() != size_t(width) * height) return 0xFFFF;
    uint16_t colour = 0xFFFF;
    int drawn = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint16_t p = screen[size_t(y) * width + x];
            if (p == 0xFFFF) continue;
            bool inBanner =
                y >= kBannerTop && y < kBannerBottom && x >= kBannerLeft && x < kBannerRight;
            if (!inBanner || (p != 0x8080 && p != 0x0C0C && p != 0x0000)) return 0xFFFF;
            if (colour != 0xFFFF && p != colour) return 0xFFFF;
            colour = p;
            ++drawn;
        }
    return drawn > 200 ? colour : 0xFFFF;  // the 18 characters set some 300 pixels
}

class FlasherHandheld {
  public:
    explicit FlasherHandheld(std::filesystem::path folder)
        : folder_(std::move(folder)), program_(folder_), state_((folder_ / "handheld").string()) {}
    ~FlasherHandheld() { SwitchOff(); }

    // tova-emu create and run; returns once its link is up.
    void Start() {
        ASSERT_EQ(program_.Run({"create", state_}).exitCode, 0);
        run_ = program_.Start(
            {"run", state_, "--host-modules", "--link-port", "0", "--time-scale", kFlasherTimeScale}, "run");
        ASSERT_TRUE(program_.WaitForInfo(state_, "(up)")) << program_.Output("run");
    }

    // Velkor.exe into the start-up folder, and a warm reset that starts it. With a segment
    // file, the flasher erases and programs the flash at 0xA0DC0000 after the banner.
    void StartFlasher(bool withSegment = false) {
        std::filesystem::path store = std::filesystem::path(state_) / "store";
        std::filesystem::copy_file(TOVA_VELKOR_MODULE, store / "Windows" / "StartUp" / "Velkor.exe",
                                   std::filesystem::copy_options::overwrite_existing);
        if (withSegment) {
            std::vector<char> bytes(64 * 1024);
            for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7 + 3);
            std::ofstream(store / "Temp" / "SYNC.nb0", std::ios::binary)
                .write(bytes.data(), std::streamsize(bytes.size()));
        }
        ASSERT_EQ(program_.Run({"reset", state_, "warm"}).exitCode, 0);
    }

    // `tova-emu info` says it runs, booted.
    bool RunsBooted() {
        std::string info = program_.Run({"info", state_}).out;
        return info.find("running:      yes") != std::string::npos &&
               info.find("state:        booted") != std::string::npos;
    }

    void SwitchOff() {
        if (!run_) return;
        run_->Signal(SIGINT);
        child::Outcome end = TovaEmuProgram::Finish(*run_);
        EXPECT_EQ(end.exitCode, 0) << end.out << end.err;
        run_.reset();
    }

    const std::string& State() const { return state_; }
    TovaEmuProgram& Program() { return program_; }
    const std::filesystem::path& Folder() const { return folder_; }

  private:
    std::filesystem::path folder_;
    TovaEmuProgram program_;
    std::string state_;
    std::unique_ptr<child::ChildProcess> run_;
};

// A fresh folder under the system's temporary folder, removed at the end.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tova-emu-view-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Waits (real time, a safety limit) until `done` holds; false when it never did.
template <typename Done>
bool WaitFor(Done done, std::chrono::seconds limit = std::chrono::seconds(60)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

}  // namespace tova::testing
