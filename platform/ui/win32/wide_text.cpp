#include "wide_text.h"

#include "platform/ui/text_encoding.h"
#include "win32_api.h"

namespace ui::win32 {

std::wstring ToWide(std::string_view text) {
    if (text.empty()) return {};
    // Not UTF-8: the bytes are the Western code page's, as on the desktop this text is for.
    UINT codePage = IsValidUtf8(text) ? CP_UTF8 : 1252;
    int units = ::MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(units), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), wide.data(), units);
    return wide;
}

std::wstring ToWideLines(std::string_view text) {
    std::wstring in = ToWide(text), out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == L'\n' && (i == 0 || in[i - 1] != L'\r')) out += L'\r';
        out += in[i];
    }
    return out;
}

}  // namespace ui::win32
