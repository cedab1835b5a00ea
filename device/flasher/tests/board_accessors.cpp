#include "board_accessors.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <stdexcept>

#include "shared/configuration.h"
#include "wince/api.h"
#include "wince/hw.h"

namespace flasher_test {
namespace {

tova::hw::Board* g_board = nullptr;
bool g_masked = false;
std::mutex g_debugMutex;
std::vector<std::u16string> g_debugLines;

tova::hw::Bus& ActiveBus() {
    if (g_board == nullptr) throw std::logic_error("hardware access with no board under test");
    return g_board->Bus();
}

// The subset of NKDbgPrintfW's format that the flasher uses: %X, %x, %d, %u, %s, %%.
std::u16string Format(const char16_t* format, va_list args) {
    std::u16string out;
    for (const char16_t* p = format; *p; ++p) {
        if (*p != u'%' || p[1] == 0) {
            out += *p;
            continue;
        }
        char buffer[16];
        switch (*++p) {
            case u'X': std::snprintf(buffer, sizeof buffer, "%X", va_arg(args, unsigned)); break;
            case u'x': std::snprintf(buffer, sizeof buffer, "%x", va_arg(args, unsigned)); break;
            case u'u': std::snprintf(buffer, sizeof buffer, "%u", va_arg(args, unsigned)); break;
            case u'd': std::snprintf(buffer, sizeof buffer, "%d", va_arg(args, int)); break;
            case u's': out += va_arg(args, const char16_t*); continue;
            default: out += *p; continue;
        }
        for (const char* b = buffer; *b; ++b) out += char16_t(*b);
    }
    return out;
}

}  // namespace

BoardUnderTest::BoardUnderTest() {
    static tova::hw::Board board(kAdvancedModel);
    board_ = &board;
    board.Reset();
    tova::hw::FlashModel& flash = board.Flash();
    flash.ClearFaults();
    flash.SetBusyInTime(false);
    for (unsigned chip = 0; chip < tova::hw::kFlashChipCount; ++chip) {
        flash.SetBusyBefore(chip, 0);
        flash.SetBusyDuring(chip, 0);
        flash.SetTiming(chip, tova::hw::FlashTiming{});
        flash.SetProtectionRegister(chip, {});
        for (uint32_t block = 0; block < tova::hw::kFlashBlockCount; ++block)
            flash.SetBlockLocked(chip, block, false);
    }
    flash.EraseAll();
    flash.ClearLog();
    board.Gpio().ClearWrites();
    board.Display().Frame(0).Fill(0);
    board.Display().Frame(1).Fill(0);
    board.Bus().GuestErrors().Clear();
    g_board = board_;
    g_masked = false;
    std::lock_guard lock(g_debugMutex);
    g_debugLines.clear();
}

BoardUnderTest::~BoardUnderTest() { g_board = nullptr; }

bool BoardUnderTest::InterruptsMasked() const { return g_masked; }

std::vector<std::u16string> BoardUnderTest::DebugLines() const {
    std::lock_guard lock(g_debugMutex);
    return g_debugLines;
}

}  // namespace flasher_test

using flasher_test::ActiveBus;

extern "C" {
uint8_t HwRead8(uint32_t address) { return ActiveBus().Read8(address); }
uint16_t HwRead16(uint32_t address) { return ActiveBus().Read16(address); }
uint32_t HwRead32(uint32_t address) { return ActiveBus().Read32(address); }
void HwWrite8(uint32_t address, uint8_t value) { ActiveBus().Write8(address, value); }
void HwWrite16(uint32_t address, uint16_t value) { ActiveBus().Write16(address, value); }
void HwWrite32(uint32_t address, uint32_t value) { ActiveBus().Write32(address, value); }
void* HwHostPointer(uint32_t address, uint32_t length) {
    return ActiveBus().HostPointer(address, length);
}
void HwMaskInterrupts(void) { flasher_test::g_masked = true; }

void NKDbgPrintfW(LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    std::u16string line = flasher_test::Format(format, args);
    va_end(args);
    std::lock_guard lock(flasher_test::g_debugMutex);
    flasher_test::g_debugLines.push_back(line);
}
}
