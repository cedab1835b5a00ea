// NKDbgPrintfW: one recorded line per call. With TOVA_DEBUG_PRINT set in the environment
// the lines also go to standard error, as a serial debug port would show them.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "debug_format.h"
#include "platform_call.h"
#include "platform/wince/api.h"

void tova::PrintDebugLine(std::u16string line) {
    tova::PlatformCall call;
    while (!line.empty() && (line.back() == u'\n' || line.back() == u'\r')) line.pop_back();
    static const bool echo = std::getenv("TOVA_DEBUG_PRINT") != nullptr;
    if (echo) std::fprintf(stderr, "[handheld] %s\n", tova::ToUtf8(line).c_str());
    if (call) call->RecordDebugLine(std::move(line));
}

extern "C" void NKDbgPrintfW(LPCWSTR lpszFmt, ...) {
    va_list args;
    va_start(args, lpszFmt);
    std::u16string line = tova::FormatDebugLine(lpszFmt, args);
    va_end(args);
    tova::PrintDebugLine(std::move(line));
}
