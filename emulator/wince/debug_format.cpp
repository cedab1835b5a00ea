#include "debug_format.h"

#include <cstdint>

namespace tova {

namespace {

std::u16string Digits(uint64_t value, unsigned base, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::u16string out;
    do {
        out.insert(out.begin(), static_cast<char16_t>(digits[value % base]));
        value /= base;
    } while (value != 0);
    return out;
}

void Pad(std::u16string& field, size_t width, bool left, bool zeros) {
    if (field.size() >= width) return;
    size_t fill = width - field.size();
    if (left) {
        field.append(fill, u' ');
    } else if (zeros) {
        size_t at = (!field.empty() && field[0] == u'-') ? 1 : 0;
        field.insert(at, fill, u'0');
    } else {
        field.insert(0, fill, u' ');
    }
}

}  // namespace

std::u16string FormatDebugLine(const char16_t* format, va_list args) {
    std::u16string out;
    if (format == nullptr) return out;
    for (const char16_t* p = format; *p; ++p) {
        if (*p != u'%') {
            out += *p;
            continue;
        }
        const char16_t* start = p++;
        bool left = false, zeros = false;
        for (; *p == u'-' || *p == u'0'; ++p) (*p == u'-' ? left : zeros) = true;
        size_t width = 0;
        for (; *p >= u'0' && *p <= u'9'; ++p) width = width * 10 + (*p - u'0');
        while (*p == u'l' || *p == u'h') ++p;
        std::u16string field;
        switch (*p) {
        case u'%': field = u"%"; break;
        case u's': {
            const char16_t* s = va_arg(args, const char16_t*);
            field = s ? s : u"(null)";
            zeros = false;
            break;
        }
        case u'c': field = static_cast<char16_t>(va_arg(args, int)); zeros = false; break;
        case u'd':
        case u'i': {
            int32_t v = va_arg(args, int32_t);
            field = v < 0 ? u"-" + Digits(uint64_t(-int64_t(v)), 10, false) : Digits(uint64_t(v), 10, false);
            break;
        }
        case u'u': field = Digits(va_arg(args, uint32_t), 10, false); break;
        case u'x': field = Digits(va_arg(args, uint32_t), 16, false); break;
        case u'X': field = Digits(va_arg(args, uint32_t), 16, true); break;
        case u'p': field = Digits(reinterpret_cast<uintptr_t>(va_arg(args, void*)), 16, true); break;
        default:
            // Not a conversion: keep the text, and stop at the end of the format.
            if (*p == 0) {
                out.append(start, p);
                return out;
            }
            out.append(start, p + 1);
            continue;
        }
        Pad(field, width, left, zeros);
        out += field;
    }
    return out;
}

}  // namespace tova
