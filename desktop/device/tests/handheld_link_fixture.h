// A handheld emulated in this process, reached over its real link server on a loopback
// port, and a program folder of the test's own for the desktop side to copy from.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/romimage/rom_image.h"
#include "emulator/link/link_server.h"
#include "emulator/machine.h"
#include "platform/ui/message_target.h"

namespace transfer_testing {

// Records posted messages in order; onPost runs on the posting thread before the post
// returns, so a test can act at an exact point of a copy.
class RecordingWindow : public ui::MessageTarget {
public:
    struct Message {
        ui::UINT message;
        ui::WPARAM wParam;
        ui::LPARAM lParam;
        uint64_t nominalMs;  // the scaled clock's reading when it was posted
    };
    void PostMessage(ui::UINT message, ui::WPARAM wParam, ui::LPARAM lParam) override;
    std::vector<Message> Messages() const;
    // lParam of every message of one kind, in order.
    std::vector<ui::LPARAM> Values(ui::UINT message) const;

    std::function<void(const Message&, size_t count)> onPost;

private:
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
};

std::vector<uint8_t> ReadHostFile(const std::filesystem::path& path);
void WriteHostFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
// Bytes that differ from position to position, so a misplaced chunk shows.
std::vector<uint8_t> PatternBytes(size_t count, uint8_t seed);

romimage::RomSpec SpecFor(bool advanced, const char* buildDigits);
// The desktop side takes `path` as its own program file until SetProgramPathReader(nullptr).
void UseProgramPath(const std::string& path);

// The handheld and the desktop's connection to it, without the test framework (the
// benchmark uses it too).
class HandheldOnLink {
public:
    ~HandheldOnLink() { Stop(); }
    // Creates the handheld in `stateFolder` with a factory ROM from the image builder, boots
    // it, starts its link server on a free port, connects the desktop side (g_csRapi,
    // CeRapiInit) and sets g_bConnected. Empty on success, else what went wrong.
    std::string Start(const std::filesystem::path& stateFolder, bool advanced);
    // Disconnects, stops the server and shuts the handheld down. Idempotent.
    void Stop();
    tova::Machine& Machine() { return *machine_; }
    tova::link::LinkServer& Server() { return *server_; }

private:
    std::unique_ptr<tova::Machine> machine_;
    std::unique_ptr<tova::link::LinkServer> server_;
    bool connected_ = false;
};

class HandheldLinkTest : public ::testing::Test {
protected:
    // Builds the handheld (factory ROM from the image builder), boots it, starts its link
    // server, connects the desktop side and sets g_bConnected, and points the program
    // folder at programFolder_.
    void StartHandheld(bool advanced);
    void TearDown() override;

    // The program folder's path reader sees this executable path.
    void SetProgramPath(const std::string& path);
    std::filesystem::path ProgramFolderPath() const { return programFolder_; }

    std::vector<uint8_t> HandheldFile(std::u16string_view path);
    bool HandheldFileExists(std::u16string_view path);
    void PutHandheldFile(std::u16string_view path, const std::vector<uint8_t>& bytes);

    std::filesystem::path root_;
    std::filesystem::path programFolder_;
    HandheldOnLink handheld_;
    tova::Machine* machine_ = nullptr;
};

}  // namespace transfer_testing
