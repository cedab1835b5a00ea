#include "platform/clock/clock.h"

#include <atomic>
#include <cstdlib>
#include <thread>

namespace tova {
namespace {

double ScaleFromEnvironment() {
    const char* text = std::getenv("TOVA_TIME_SCALE");
    if (text == nullptr || *text == '\0') return 1.0;
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value >= 0.0)) return 1.0;
    return value;
}

std::atomic<double>& Scale() {
    static std::atomic<double> scale{ScaleFromEnvironment()};
    return scale;
}

const std::chrono::steady_clock::time_point& Epoch() {
    static const auto epoch = std::chrono::steady_clock::now();
    return epoch;
}

}  // namespace

double TimeScale() { return Scale().load(std::memory_order_relaxed); }

void SetTimeScale(double scale) {
    if (scale >= 0.0) Scale().store(scale, std::memory_order_relaxed);
}

std::chrono::nanoseconds ScaledDuration(std::chrono::nanoseconds nominal) {
    return std::chrono::nanoseconds(
        static_cast<int64_t>(static_cast<double>(nominal.count()) * TimeScale()));
}

void ScaledSleep(uint64_t ms) {
    auto real = ScaledMs(ms);
    if (real.count() > 0) std::this_thread::sleep_for(real);
    else std::this_thread::yield();
}

uint64_t NominalNowMs() {
    double scale = TimeScale();
    if (scale <= 0.0) return 0;
    auto real = std::chrono::steady_clock::now() - Epoch();
    double ms = std::chrono::duration<double, std::milli>(real).count() / scale;
    return static_cast<uint64_t>(ms);
}

}  // namespace tova
