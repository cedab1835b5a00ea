// The one clock that every sleep, timed wait and timer goes through, on both sides of the
// link. Durations are given as the system would see them (a 2000 ms probe period) and
// shrunk by the scale factor from TOVA_TIME_SCALE (default 1; 0 makes every wait instant).
#pragma once

#include <chrono>
#include <cstdint>

namespace tova {

double TimeScale();
// Overrides TOVA_TIME_SCALE for this process (tests, benchmarks). Negative values are refused.
void SetTimeScale(double scale);

// Real time that a nominal duration takes at the current scale.
std::chrono::nanoseconds ScaledDuration(std::chrono::nanoseconds nominal);
inline std::chrono::nanoseconds ScaledMs(uint64_t ms) {
    return ScaledDuration(std::chrono::milliseconds(ms));
}

// Sleeps for a nominal number of milliseconds.
void ScaledSleep(uint64_t ms);

// Nominal milliseconds since the first call in this process: real time divided by the
// scale, so that a timed expectation (a 2000 ms period) reads the same at any scale.
// At scale 0 it counts nothing and stays at 0.
uint64_t NominalNowMs();

}  // namespace tova
