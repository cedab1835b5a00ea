// The handheld languages the wizard knows: the package language code each must match, the
// name shown on the device information page and the suffix of the ROM version line.
#pragma once

#include <cstdint>

struct LanguageRow {
    uint32_t languageId;       // Windows language identifier, e.g. 1033
    char code[3];              // package language letters, e.g. "EN"
    int nameStringId;          // string-table entry with the language's name
    const char* suffixFormat;  // printf format taking the ROM build, e.g. "(%08xEN)"
};

// The row of a handheld language, or nullptr for a language without one (no check, no
// name, no suffix).
const LanguageRow* FindLanguageRow(uint32_t languageId);
