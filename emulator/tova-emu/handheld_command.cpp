// tova-emu set / power-cut / reset / screenshot / dump-flash / info: through the control
// channel when the handheld runs, on its state folder when it does not.
#include <cstdio>

#include "arguments.h"
#include "commands.h"
#include "control_channel.h"
#include "handheld_actions.h"
#include "shared/flash_map.h"

namespace tova::emu {

namespace {

// The action's words from the command line: options become positional words, and file
// names absolute, since a running handheld works in another process's folder.
std::vector<std::string> ActionWords(const std::string& name, const std::vector<std::string>& rest) {
    std::vector<std::string> words{name};
    if (name == "dump-flash") {
        if (rest.empty()) throw UsageError("usage: dump-flash STATE OUT.bin [--offset N] [--length N]");
        std::string offset = "0", length;
        for (size_t i = 1; i < rest.size(); ++i) {
            if (rest[i] == "--offset") offset = OptionValue(rest, &i);
            else if (rest[i] == "--length") length = OptionValue(rest, &i);
            else throw UsageError("dump-flash does not know \"" + rest[i] + "\"");
        }
        uint64_t start = ParseNumberArgument(offset, kFlashBytes, "the offset");
        if (length.empty()) length = std::to_string(kFlashBytes - start);
        words.push_back(std::filesystem::absolute(rest[0]).string());
        words.push_back(offset);
        words.push_back(length);
        return words;
    }
    for (size_t i = 0; i < rest.size(); ++i)
        words.push_back(name == "screenshot" && i == 0 ? std::filesystem::absolute(rest[i]).string() : rest[i]);
    return words;
}

}  // namespace

int HandheldCommand(const std::string& name, const std::vector<std::string>& args) {
    if (args.empty()) throw UsageError(name + " needs the state folder; see tova-emu --help");
    std::filesystem::path state = args[0];
    std::vector<std::string> words = ActionWords(name, {args.begin() + 1, args.end()});
    CheckAction(words);

    if (auto reply = SendControl(state, words)) {
        if (reply->status == ControlReply::Status::kUsage) throw UsageError(reply->text);
        if (reply->status == ControlReply::Status::kError) throw CommandError(reply->text);
        std::fputs(reply->text.c_str(), stdout);
        return 0;
    }
    auto machine = Machine::Open(state);
    std::string text = RunAction(*machine, words, ActionContext{});
    if (name != "info" && name != "screenshot" && name != "dump-flash") machine->Save();
    std::fputs(text.c_str(), stdout);
    return 0;
}

}  // namespace tova::emu
