#include "arguments.h"

#include <cerrno>
#include <cstdlib>

namespace tova::emu {

uint64_t ParseNumberArgument(const std::string& text, uint64_t max, const std::string& what) {
    bool ok = !text.empty() && text[0] != '-' && text[0] != '+';
    unsigned long long v = 0;
    if (ok) {
        errno = 0;
        char* end = nullptr;
        v = std::strtoull(text.c_str(), &end, 0);
        ok = errno == 0 && *end == '\0' && v <= max;
    }
    if (!ok)
        throw UsageError(what + " must be a number from 0 to " + std::to_string(max) + ", not \"" +
                         text + "\"");
    return v;
}

bool ParseOnOffArgument(const std::string& text, const std::string& what) {
    if (text == "on") return true;
    if (text == "off") return false;
    throw UsageError(what + " must be on or off, not \"" + text + "\"");
}

std::string OptionValue(const std::vector<std::string>& args, size_t* i) {
    if (*i + 1 >= args.size()) throw UsageError(args[*i] + " needs a value");
    return args[++*i];
}

}  // namespace tova::emu
