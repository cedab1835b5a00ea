// The control channel of a running `tova-emu run`: a Unix stream socket in the abstract
// namespace, named after the state folder's canonical path, so that its name never
// outgrows a socket address and nothing is left behind when the process ends. A request
// is a list of words, each ended by a NUL, sent before the client shuts its side; the
// reply is one status line ("ok", "usage" or "error") and the text to print. Only the user
// running the handheld and root are answered; anyone else gets an error.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tova::emu {

struct ControlReply {
    enum class Status { kOk, kUsage, kError } status;
    std::string text;
};

// How long a client waits and how much it takes. The defaults suit the commands of the
// command line; a window polling many times a second wants a bound on both.
struct ControlLimits {
    size_t largestReply = size_t(1) << 26;  // a longer reply is "did not answer"
    int timeoutMs = 0;                      // for each send and receive; 0 waits for ever
};

// The reply of the handheld running on `state`, or nullopt when none runs there. Throws
// CommandError when it runs but does not answer within the limits.
std::optional<ControlReply> SendControl(const std::filesystem::path& state,
                                        const std::vector<std::string>& words,
                                        const ControlLimits& limits = {});

class ControlServer {
public:
    using Handler = std::function<ControlReply(const std::vector<std::string>&)>;
    // Throws CommandError when another process already serves this state folder.
    ControlServer(const std::filesystem::path& state, Handler handler);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

private:
    void Serve();
    void Answer(int connection);

    Handler handler_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace tova::emu
