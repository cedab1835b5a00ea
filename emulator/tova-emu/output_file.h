// The files `tova-emu screenshot` and `dump-flash` write: by the command's own process, with
// its user's rights, whether the handheld runs in another process or not, so that a running
// handheld never writes where a client names.
#pragma once

#include <filesystem>
#include <string_view>

namespace tova::emu {

// Writes `bytes` to `path` whole or not at all: into a new file beside it, then renamed over
// it. Throws CommandError naming the path and the reason; nothing is left behind then.
void WriteOutputFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace tova::emu
