// tova-emu set / power-cut / reset / screenshot / dump-flash / info: through the control
// channel when the handheld runs, on its state folder when it does not. screenshot and
// dump-flash get the file's bytes either way and write the file here, with this process's
// rights.
#include <algorithm>
#include <cstdio>
#include <optional>

#include "arguments.h"
#include "commands.h"
#include "control_channel.h"
#include "handheld_actions.h"
#include "output_file.h"
#include "shared/flash_map.h"

namespace tova::emu {

namespace {

// A 240 x 320 RGB screen compresses to far less; a longer answer is not a screenshot.
constexpr size_t kLargestScreenshot = 1u << 20;
// Room for an error message instead of the bytes asked for.
constexpr size_t kLargestMessage = 64 * 1024;
constexpr char kPngSignature[] = "\x89PNG\r\n\x1a\n";

// The words for the handheld, and the file this process writes with what comes back.
struct Request {
    std::vector<std::string> words;
    std::optional<std::filesystem::path> output;
    size_t largestAnswer = ControlLimits{}.largestReply;
    uint64_t flashOffset = 0, flashLength = 0;  // dump-flash
};

std::string Joined(const std::vector<std::string>& words, size_t from) {
    std::string out;
    for (size_t i = from; i < words.size(); ++i) out += (i > from ? " " : "") + words[i];
    return out;
}

Request DumpFlashRequest(const std::vector<std::string>& rest) {
    const std::string usage = "usage: dump-flash STATE OUT.bin [--offset N] [--length N]";
    if (rest.empty()) throw UsageError(usage);
    std::string offset = "0", length;
    for (size_t i = 1; i < rest.size(); ++i) {
        if (rest[i] == "--offset") offset = OptionValue(rest, &i);
        else if (rest[i] == "--length") length = OptionValue(rest, &i);
        else throw UsageError("dump-flash does not know \"" + rest[i] + "\"");
    }
    uint64_t start = ParseNumberArgument(offset, kFlashBytes, "the offset");
    if (length.empty()) length = std::to_string(kFlashBytes - start);
    Request r{{"dump-flash", offset, length}, std::filesystem::path(rest[0])};
    CheckAction(r.words);
    r.flashOffset = start;
    r.flashLength = ParseNumberArgument(length, kFlashBytes, "the length");
    r.largestAnswer = std::max<size_t>(r.flashLength, kLargestMessage);
    return r;
}

Request ScreenshotRequest(const std::vector<std::string>& rest) {
    const std::string usage = "screenshot STATE OUT.png";
    if (rest.empty()) throw UsageError("missing arguments (usage: " + usage + ")");
    if (rest.size() > 1) throw UsageError("too many arguments: \"" + Joined(rest, 1) + "\" (usage: " + usage + ")");
    return Request{{"screenshot"}, std::filesystem::path(rest[0]), kLargestScreenshot};
}

Request RequestFor(const std::string& name, const std::vector<std::string>& rest) {
    if (name == "dump-flash") return DumpFlashRequest(rest);
    if (name == "screenshot") return ScreenshotRequest(rest);
    Request r;
    r.words.push_back(name);
    r.words.insert(r.words.end(), rest.begin(), rest.end());
    CheckAction(r.words);
    return r;
}

// The bytes that came back are checked before anything is written: exactly the flash range
// asked for, or a PNG.
void CheckFileBytes(const Request& r, const std::string& bytes) {
    if (r.words[0] == "dump-flash" && bytes.size() != r.flashLength)
        throw CommandError("the handheld sent " + std::to_string(bytes.size()) + " bytes of flash instead of " +
                           std::to_string(r.flashLength));
    if (r.words[0] == "screenshot" && bytes.compare(0, sizeof kPngSignature - 1, kPngSignature) != 0)
        throw CommandError("the handheld's screenshot is not a PNG");
}

std::string Written(const Request& r, bool running) {
    const std::string out = r.output->string();
    if (r.words[0] == "screenshot")
        return running ? "screenshot written to " + out + "\n"
                       : "the handheld is not running: its screen is dark; written to " + out + "\n";
    char offset[16];
    std::snprintf(offset, sizeof offset, "0x%08X", unsigned(r.flashOffset));
    return std::to_string(r.flashLength) + " bytes of flash from offset " + offset + " written to " + out + "\n";
}

// Prints the text of an action, or writes the file it returned.
void Deliver(const Request& r, const std::string& text, bool running) {
    if (!r.output) {
        std::fputs(text.c_str(), stdout);
        return;
    }
    CheckFileBytes(r, text);
    WriteOutputFile(*r.output, text);
    std::fputs(Written(r, running).c_str(), stdout);
}

}  // namespace

int HandheldCommand(const std::string& name, const std::vector<std::string>& args) {
    if (args.empty()) throw UsageError(name + " needs the state folder; see tova-emu --help");
    std::filesystem::path state = args[0];
    Request request = RequestFor(name, {args.begin() + 1, args.end()});

    ControlLimits limits;
    limits.largestReply = request.largestAnswer;
    if (auto reply = SendControl(state, request.words, limits)) {
        if (reply->status == ControlReply::Status::kUsage) throw UsageError(reply->text);
        if (reply->status == ControlReply::Status::kError) throw CommandError(reply->text);
        Deliver(request, reply->text, true);
        return 0;
    }
    auto machine = Machine::Open(state);
    std::string text = RunAction(*machine, request.words, ActionContext{});
    if (!request.output && name != "info") machine->Save();
    Deliver(request, text, false);
    return 0;
}

}  // namespace tova::emu
