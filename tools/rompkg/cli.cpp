#include <cstring>
#include <map>
#include <ostream>
#include <string>

#include "make.h"
#include "rompkg.h"
#include "tools/romimage/rom_image.h"

namespace rompkg {
namespace {

int Usage(std::ostream& err, const std::string& problem) {
    err << "rompkg: " << problem << "\n"
        << "Try 'rompkg --help' for the commands and their options.\n";
    return kExitUsage;
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h" || arg == "help"; }

// UTF-8 to UTF-16; false for text that is not valid UTF-8.
bool Utf16Of(const std::string& text, std::u16string& out) {
    out.clear();
    for (size_t i = 0; i < text.size();) {
        unsigned char c = text[i];
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0 || text.size() - i <= size_t(extra)) return false;
        uint32_t code = extra == 0 ? c : (c & (0x3F >> extra));
        for (int k = 1; k <= extra; ++k) {
            unsigned char cont = text[i + k];
            if ((cont >> 6) != 2) return false;
            code = (code << 6) | (cont & 0x3F);
        }
        static const uint32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
        if (code < kMinimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        if (code >= 0x10000) {
            code -= 0x10000;
            out += char16_t(0xD800 + (code >> 10));
            out += char16_t(0xDC00 + (code & 0x3FF));
        } else {
            out += char16_t(code);
        }
        i += size_t(extra) + 1;
    }
    return true;
}

// --name value or --name=value, each at most once.
bool ParseOptions(const std::vector<std::string>& args, size_t first,
                  const std::map<std::string, bool>& known, std::map<std::string, std::string>& values,
                  std::ostream& err, int& status) {
    for (size_t i = first; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool inlineValue = false;
        size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            inlineValue = true;
        }
        if (!known.count(arg)) {
            status = Usage(err, "make: unknown option '" + arg + "'");
            return false;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                status = Usage(err, "make: option " + arg + " needs a value");
                return false;
            }
            value = args[++i];
        }
        if (values.count(arg)) {
            status = Usage(err, "make: option " + arg + " given twice");
            return false;
        }
        values[arg] = value;
    }
    for (const auto& [name, required] : known)
        if (required && !values.count(name)) {
            status = Usage(err, "make: option " + name + " is required");
            return false;
        }
    return true;
}

int RunMake(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::map<std::string, bool> known = {{"--model", true},   {"--build", true},
                                               {"--language", true}, {"--version", true},
                                               {"--out", false}};
    std::map<std::string, std::string> v;
    int status = kExitUsage;
    if (!ParseOptions(args, 1, known, v, err, status)) return status;

    romimage::RomSpec spec;
    if (v["--model"] == "advanced" || v["--model"] == "basic")
        spec.advanced = v["--model"] == "advanced";
    else
        return Usage(err, "make: --model must be advanced or basic, not '" + v["--model"] + "'");

    const std::string& build = v["--build"];
    if (build.size() != 8 || build.find_first_not_of("0123456789") != std::string::npos)
        return Usage(err, "make: --build must be exactly eight decimal digits, not '" + build + "'");
    std::memcpy(spec.buildDigits, build.c_str(), 9);

    std::string language = v["--language"];
    for (char& c : language) c = (c >= 'a' && c <= 'z') ? char(c - 32) : c;
    if (language.size() != 2 || romimage::LanguageIdForCode(language.c_str()) == 0)
        return Usage(err, "make: --language must be one of GE, EN, SP, FR, IT, not '" + v["--language"] + "'");
    std::memcpy(spec.language, language.c_str(), 3);

    if (!Utf16Of(v["--version"], spec.versionText))
        return Usage(err, "make: --version is not valid UTF-8 text");
    std::string problem = romimage::ValidateSpec(spec);
    if (!problem.empty()) return Usage(err, "make: " + problem);

    return Make(spec, v.count("--out") ? v["--out"] : ".", out, err);
}

int RunInspect(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 2) return Usage(err, "inspect: give exactly one package file");
    return InspectFile(args[1], out, err);
}

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) return Usage(err, "no command given");
    const std::string& command = args[0];
    if (IsHelp(command)) {
        out << HelpText();
        return kExitOk;
    }
    if (args.size() >= 2 && (args[1] == "--help" || args[1] == "-h")) {
        out << HelpText();
        return kExitOk;
    }
    if (command == "make") return RunMake(args, out, err);
    if (command == "inspect") return RunInspect(args, out, err);
    return Usage(err, "unknown command '" + command + "'");
}

}  // namespace rompkg
