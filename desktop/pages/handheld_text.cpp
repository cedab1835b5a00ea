#include "handheld_text.h"

#include <cstdint>

namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::string HandheldText(const char16_t* text, size_t units) {
    std::string out;
    for (size_t i = 0; i < units && text[i] != 0; ++i) {
        char16_t u = text[i];
        if (IsHigh(u) && i + 1 < units && IsLow(text[i + 1])) {
            AppendUtf8(out, 0x10000 + ((uint32_t(u) - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00));
            ++i;
        } else if (IsHigh(u) || IsLow(u)) {
            out += '?';
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}
