// Requests on the control channel of a running handheld: the input's NUL-ended pieces are
// the words (an unended tail is dropped, as the server drops it), sent by the real client
// to the real server, whose handler does what `tova-emu run` does with them on a booted
// handheld, screenshots and flash dumps included (their bytes come back; the server writes
// no file).
#include <string>
#include <vector>

#include "arguments.h"
#include "booted_handheld.h"
#include "control_channel.h"
#include "handheld_actions.h"

namespace {

using tova::emu::ControlReply;

ControlReply Handle(const std::vector<std::string>& words) {
    static tova::emu::ActionContext context{true, "127.0.0.1:1"};
    try {
        return {ControlReply::Status::kOk, tova::emu::RunAction(fuzz::BootedHandheld(), words, context)};
    } catch (const tova::emu::UsageError& e) {
        return {ControlReply::Status::kUsage, e.what()};
    } catch (const std::exception& e) {
        return {ControlReply::Status::kError, e.what()};
    }
}

const std::filesystem::path& State() {
    static const std::filesystem::path state = [] {
        fuzz::BootedHandheld();
        auto path = fuzz::Scratch().Path() / "control";
        new tova::emu::ControlServer(path, Handle);  // serves until the process ends
        return path;
    }();
    return state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto& state = State();
    std::vector<std::string> words;
    std::string word;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word.push_back(char(data[i]));
        }
    }
    tova::emu::ControlLimits limits;
    limits.timeoutMs = 20000;
    if (!tova::emu::SendControl(state, words, limits)) std::abort();  // the server is gone
    // A power cut or reset from the request: the next input meets a booted handheld again.
    tova::Machine& machine = fuzz::BootedHandheld();
    if (!machine.Booted()) {
        if (machine.State() == tova::MachineState::kOff) machine.PowerOn();
        if (!machine.WaitUntilState(tova::MachineState::kBooted, 20000)) std::abort();
    }
    return 0;
}
