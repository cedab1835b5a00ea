// Resource numbers of the wizard: dialog templates, controls, strings, the icon and the
// bitmap, plus the Win32 window-style bits that the templates and the pages use.
#pragma once

#include <cstdint>

namespace ui {

// Page results and the standard button ids.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// Dialog templates.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_WELCOME = 102;
inline constexpr int IDD_PROGRESS = 129;
inline constexpr int IDD_DEVICE_INFO = 130;
inline constexpr int IDD_AGREEMENT = 133;
inline constexpr int IDD_CAUTION = 134;
inline constexpr int IDD_REFUSAL = 136;

// Pictures.
inline constexpr int IDR_MAINFRAME = 128;  // the program icon, 16 x 16 and 32 x 32
inline constexpr int IDB_WELCOME = 131;    // the welcome page's picture, 222 x 272, 24 bits

// Controls. Static controls without an id of their own get distinct negative ids in
// their template (-1, -2, ... in template order) so that they can still be told apart.
inline constexpr int IDC_NEXT = 1000;                 // welcome page "Next"
inline constexpr int IDC_INFO_NEXT = 1003;            // device information page "Next"
inline constexpr int IDC_INFO_CANCEL = 1004;          // device information page "Cancel"
inline constexpr int IDC_OVERALL_PROGRESS = 1007;
inline constexpr int IDC_FILE_PROGRESS = 1010;
inline constexpr int IDC_PROGRESS_TEXT = 1011;
inline constexpr int IDC_STATUS_TITLE = 1013;
inline constexpr int IDC_STATUS_TEXT = 1014;
inline constexpr int IDC_CAUTION_TEXT = 1015;
inline constexpr int IDC_MODEL_TEXT = 1016;
inline constexpr int IDC_ROM_VERSION_TEXT = 1017;
inline constexpr int IDC_LANGUAGE_TEXT = 1018;
inline constexpr int IDC_SYSTEM_INFO_GROUP = 1020;
inline constexpr int IDC_CONTINUE_HINT = 1021;
inline constexpr int IDC_AGREEMENT_TEXT = 1022;
inline constexpr int IDC_REASONS = 1023;

// Command id of the about item in the welcome page's window menu.
inline constexpr unsigned CMD_ABOUT = 16;
// The window menu's own close command (the close box).
inline constexpr unsigned SC_CLOSE = 0xF060;

// String table entries.
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDS_SYSTEM_INFORMATION = 102;
inline constexpr int IDS_MODEL = 103;
inline constexpr int IDS_ROM_VERSION = 104;
inline constexpr int IDS_LANGUAGE = 105;
inline constexpr int IDS_COPY_COMPLETE = 109;
inline constexpr int IDS_DEVICE_UPGRADING = 110;
inline constexpr int IDS_CHECK_VERSION = 112;
inline constexpr int IDS_REASON_AC = 114;
inline constexpr int IDS_REASON_BATTERY = 115;
inline constexpr int IDS_REASON_LANGUAGE = 116;
inline constexpr int IDS_REASON_SAME_VERSION = 118;
inline constexpr int IDS_MODEL_ADVANCED = 119;
inline constexpr int IDS_MODEL_BASIC = 120;
inline constexpr int IDS_LANGUAGE_ENGLISH = 121;
inline constexpr int IDS_LANGUAGE_FRENCH = 122;
inline constexpr int IDS_LANGUAGE_GERMAN = 123;
inline constexpr int IDS_LANGUAGE_SPANISH = 124;
inline constexpr int IDS_LANGUAGE_ITALIAN = 125;
inline constexpr int IDS_CAUTION = 126;
inline constexpr int IDS_UPDATE_COMPLETE = 127;
inline constexpr int IDS_NO_DEVICE = 128;
inline constexpr int IDS_COPY_INCOMPLETE = 130;
inline constexpr int IDS_COPY_FILE = 132;
inline constexpr int IDS_INTEGRITY_FAILED = 133;
inline constexpr int IDS_OTHER_ROM_RETURNED = 140;  // format: build running, package build
inline constexpr int IDS_RETURN_UNCONFIRMED = 141;
inline constexpr int IDS_NOT_RETURNED = 142;

// Window styles (Win32 values).
inline constexpr uint32_t WS_POPUP = 0x80000000;
inline constexpr uint32_t WS_VISIBLE = 0x10000000;
inline constexpr uint32_t WS_DISABLED = 0x08000000;
inline constexpr uint32_t WS_CAPTION = 0x00C00000;
inline constexpr uint32_t WS_BORDER = 0x00800000;
inline constexpr uint32_t WS_VSCROLL = 0x00200000;
inline constexpr uint32_t WS_SYSMENU = 0x00080000;
inline constexpr uint32_t DS_MODALFRAME = 0x00000080;
inline constexpr uint32_t DS_SETFOREGROUND = 0x00000200;
inline constexpr uint32_t WS_EX_TOPMOST = 0x00000008;

// Colours as COLORREF (0x00BBGGRR); CLR_DEFAULT means the control's normal colour.
using COLORREF = uint32_t;
constexpr COLORREF RGB(uint8_t r, uint8_t g, uint8_t b) {
    return COLORREF(r) | (COLORREF(g) << 8) | (COLORREF(b) << 16);
}
inline constexpr COLORREF CLR_DEFAULT = 0xFF000000;
inline constexpr uint8_t GetRValue(COLORREF c) { return uint8_t(c & 0xFF); }
inline constexpr uint8_t GetGValue(COLORREF c) { return uint8_t((c >> 8) & 0xFF); }
inline constexpr uint8_t GetBValue(COLORREF c) { return uint8_t((c >> 16) & 0xFF); }

}  // namespace ui
