// The commands of tova-emu. Each takes the words after the command name and returns the
// exit status; UsageError and CommandError carry failures to main.
#pragma once

#include <string>
#include <vector>

namespace tova::emu {

extern const char kHelpText[];

int CreateCommand(const std::vector<std::string>& args);
int RunCommand(const std::vector<std::string>& args);
int ViewCommand(const std::vector<std::string>& args);
// set, power-cut, reset, screenshot, dump-flash, info.
int HandheldCommand(const std::string& name, const std::vector<std::string>& args);

}  // namespace tova::emu
