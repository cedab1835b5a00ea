// Texts that come from the handheld as fixed UTF-16 fields, turned into page text (UTF-8).
#pragma once

#include <cstddef>
#include <string>

// Converts up to `units` code units, stopping at the first NUL. A lone surrogate becomes
// '?', so a damaged field never yields invalid page text.
std::string HandheldText(const char16_t* text, size_t units);
