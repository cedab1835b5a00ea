#include "text_escape.h"

#include <cstdint>
#include <cstddef>

#include "emulator/object_store.h"

namespace tova {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsPlain(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '-' || c == '.' || c == '\\';
}

}  // namespace

std::string EscapeName(std::u16string_view name) {
    std::string out;
    for (unsigned char c : ToUtf8(name)) {
        if (IsPlain(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHexDigits[c >> 4];
            out += kHexDigits[c & 15];
        }
    }
    return out.empty() ? std::string("%") : out;  // "%" alone stands for the empty name
}

std::optional<std::u16string> UnescapeName(std::string_view text) {
    if (text == "%") return std::u16string();
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            if (!IsPlain(static_cast<unsigned char>(text[i]))) return std::nullopt;
            bytes += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        bytes += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return FromUtf8(bytes);
}

std::string HexBytes(const uint8_t* data, size_t size) {
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += kHexDigits[data[i] >> 4];
        out += kHexDigits[data[i] & 15];
    }
    return out;
}

std::optional<std::string> UnhexBytes(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    std::string out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = HexValue(hex[i]), lo = HexValue(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

}  // namespace tova
