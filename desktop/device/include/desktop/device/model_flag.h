// Which ROM package the desktop works with: 1 for the advanced configuration. The welcome
// and device information pages assign it; the package search and the segment copy read it.
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> g_bAdvancedModel;
