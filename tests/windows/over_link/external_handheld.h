// The handheld that tova-emu run keeps for these Windows programs (tests/windows/handheld),
// reached over its link from Wine through winsock, as setup.exe reaches one. Its folder
// comes in TOVA_HANDHELD_DIR: DIR/state/link.endpoint, and the program folder DIR/program
// with the package, HARLIX.DLL and Velkor.exe.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/ui/message_target.h"

namespace over_link {

// Records what the copy posts, as the progress page would receive it.
class RecordingWindow : public ui::MessageTarget {
public:
    void PostMessage(ui::UINT message, ui::WPARAM wParam, ui::LPARAM lParam) override;
    // lParam of every message of one kind, in order.
    std::vector<ui::LPARAM> Values(ui::UINT message) const;

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<ui::UINT, ui::LPARAM>> messages_;
};

class ExternalHandheldTest : public ::testing::Test {
protected:
    // Connects the desktop side to the handheld (g_csRapi, CeRapiInit, g_bConnected) and
    // takes DIR/program as the program folder.
    void SetUp() override;
    void TearDown() override;

    // DIR in this program's terms (Z:\...), ending in a backslash.
    std::string folder_;

private:
    bool connected_ = false;
};

}  // namespace over_link
