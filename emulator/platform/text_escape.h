// Percent-encoding of UTF-16 names for the state folder's text files: names stay readable
// and never contain the separators the files use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tova {

std::string EscapeName(std::u16string_view name);
std::optional<std::u16string> UnescapeName(std::string_view text);

std::string HexBytes(const uint8_t* data, size_t size);
std::optional<std::string> UnhexBytes(std::string_view hex);

}  // namespace tova
