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

namespace {

class VarArguments final : public DebugArguments {
public:
    explicit VarArguments(va_list args) { va_copy(args_, args); }
    ~VarArguments() override { va_end(args_); }
    uint32_t Word() override { return va_arg(args_, uint32_t); }
    uint64_t Pointer() override { return reinterpret_cast<uintptr_t>(va_arg(args_, void*)); }
    std::u16string String(bool* isNull) override {
        const char16_t* s = va_arg(args_, const char16_t*);
        *isNull = s == nullptr;
        return s ? s : u"";
    }

private:
    va_list args_;
};

}  // namespace

std::u16string FormatDebugLine(const char16_t* format, va_list args) {
    VarArguments source(args);
    return FormatDebugLine(format, source);
}

std::u16string FormatDebugLine(const char16_t* format, DebugArguments& args) {
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
            bool isNull = false;
            field = args.String(&isNull);
            if (isNull) field = u"(null)";
            zeros = false;
            break;
        }
        case u'c': field = static_cast<char16_t>(args.Word()); zeros = false; break;
        case u'd':
        case u'i': {
            int32_t v = static_cast<int32_t>(args.Word());
            field = v < 0 ? u"-" + Digits(uint64_t(-int64_t(v)), 10, false) : Digits(uint64_t(v), 10, false);
            break;
        }
        case u'u': field = Digits(args.Word(), 10, false); break;
        case u'x': field = Digits(args.Word(), 16, false); break;
        case u'X': field = Digits(args.Word(), 16, true); break;
        case u'p': field = Digits(args.Pointer(), 16, true); break;
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
