// <windows.h> for the Win32 host's own files. Windows spells as macros several names that
// the toolkit-neutral headers declare in namespace ui with the same values (IDOK, WS_*,
// WM_CLOSE, RGB, MessageBox, ...). Include the ui headers first and this last: the
// macros are dropped again, so ui::IDOK stays ui::IDOK; the host uses the ui names.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>

#undef IDOK
#undef IDCANCEL
#undef WS_POPUP
#undef WS_VISIBLE
#undef WS_DISABLED
#undef WS_CAPTION
#undef WS_BORDER
#undef WS_VSCROLL
#undef WS_SYSMENU
#undef DS_MODALFRAME
#undef DS_SETFOREGROUND
#undef WS_EX_TOPMOST
#undef SC_CLOSE
#undef WM_CLOSE
#undef WM_COMMAND
#undef WM_SYSCOMMAND
#undef WM_TIMER
#undef WM_APP
#undef RGB
#undef GetRValue
#undef GetGValue
#undef GetBValue
#undef CLR_DEFAULT
#undef MessageBox
#undef PostMessage
#undef LoadString
