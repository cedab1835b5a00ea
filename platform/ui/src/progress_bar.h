// A progress bar's position is held inside its range, whichever way round the range was
// given, and each change is logged once. The dialog model keeps every bar through these.
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/ui/transcript.h"

namespace ui::detail {

// `Bar` has int rangeMin, rangeMax and pos; `record(kind, value, value2)` logs a change.
template <typename Bar, typename Record>
bool ChangeProgressPos(Bar& bar, int pos, Record&& record) {
    int clamped = std::clamp(pos, std::min(bar.rangeMin, bar.rangeMax), std::max(bar.rangeMin, bar.rangeMax));
    if (clamped == bar.pos) return false;
    bar.pos = clamped;
    record(EntryKind::ProgressPos, int64_t(clamped), int64_t(0));
    return true;
}

// A new range pulls the position back inside it.
template <typename Bar, typename Record>
void ChangeProgressRange(Bar& bar, int minimum, int maximum, Record&& record) {
    if (bar.rangeMin != minimum || bar.rangeMax != maximum) {
        bar.rangeMin = minimum;
        bar.rangeMax = maximum;
        record(EntryKind::ProgressRange, int64_t(minimum), int64_t(maximum));
    }
    ChangeProgressPos(bar, bar.pos, record);
}

}  // namespace ui::detail
