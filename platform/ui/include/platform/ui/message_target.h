// Where posted window messages go. The page hosts implement it; the desktop's device
// operations post progress to it without knowing the toolkit.
#pragma once

#include <cstdint>

namespace ui {

using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;

inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_COMMAND = 0x0111;     // wParam: control id
inline constexpr UINT WM_SYSCOMMAND = 0x0112;  // wParam: window-menu command id
inline constexpr UINT WM_TIMER = 0x0113;       // wParam: timer id
inline constexpr UINT WM_APP = 0x8000;

class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    // Queues the message for the target's own thread and returns at once; safe from any
    // thread. A target that no longer exists drops it.
    virtual void PostMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

}  // namespace ui
