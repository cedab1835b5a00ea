// An in-process emulated handheld, booted, with its link server on a free loopback port,
// for tests that talk to it over the real socket.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/link/link_server.h"
#include "emulator/machine.h"

namespace link_test {

// A flash image holding only a valid ROM identity record for `config`'s model: enough for
// the handheld to boot.
std::vector<uint8_t> MinimalRom(const tova::MachineConfig& config);

class Handheld {
public:
    explicit Handheld(tova::MachineConfig config = DefaultConfig());
    ~Handheld();
    Handheld(const Handheld&) = delete;
    Handheld& operator=(const Handheld&) = delete;

    static tova::MachineConfig DefaultConfig();

    tova::Machine& Machine() { return *machine_; }
    tova::link::LinkServer& Server() { return *server_; }
    // "127.0.0.1:<port>" of the link server.
    std::string Endpoint() const;

    // Copies the link test library into the handheld (by default as the service library).
    void PlaceLibrary(std::u16string_view handheldPath = u"\\Windows\\HARLIX.DLL");
    // Sets the test library's behaviour (see link_test_module.cpp).
    void SetMode(char mode);
    // What the test library's last export received: input size, then the input bytes.
    std::optional<std::vector<uint8_t>> LastCall();
    // Lets a WaitForRelease call of the test library return.
    void ReleaseWaiters();

private:
    std::filesystem::path folder_;
    std::unique_ptr<tova::Machine> machine_;
    std::unique_ptr<tova::link::LinkServer> server_;
};

}  // namespace link_test
