// Command-line words of tova-emu: numbers, on/off and the error that ends a command with
// exit status 2.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tova::emu {

// A bad command line: the message is printed and tova-emu exits with status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A command that could not be carried out (exit status 1).
class CommandError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Decimal or 0x-prefixed hexadecimal, at most `max`; UsageError naming `what` otherwise.
uint64_t ParseNumberArgument(const std::string& text, uint64_t max, const std::string& what);
bool ParseOnOffArgument(const std::string& text, const std::string& what);

// Takes the value of an option ("--battery 40"), or throws UsageError.
std::string OptionValue(const std::vector<std::string>& args, size_t* i);

}  // namespace tova::emu
