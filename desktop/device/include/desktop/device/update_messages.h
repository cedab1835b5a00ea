// Application messages between the update worker, the segment copy and the progress page.
#pragma once

#include "platform/ui/message_target.h"

inline constexpr ui::UINT WM_UPD_OVERALL_PROGRESS = ui::WM_APP + 300;  // lParam: percent
inline constexpr ui::UINT WM_UPD_FILE_PROGRESS = ui::WM_APP + 301;     // lParam: percent
inline constexpr ui::UINT WM_UPD_COPY_DONE = ui::WM_APP + 302;
inline constexpr ui::UINT WM_UPD_COMPLETE = ui::WM_APP + 303;
inline constexpr ui::UINT WM_UPD_WAIT_RECONNECT = ui::WM_APP + 304;
// From the check of the handheld that came back: wParam a ReturnedRom, lParam the ROM
// build it read.
inline constexpr ui::UINT WM_UPD_RETURN_CHECKED = ui::WM_APP + 305;

static_assert(WM_UPD_OVERALL_PROGRESS == 0x812C && WM_UPD_WAIT_RECONNECT == 0x8130);
