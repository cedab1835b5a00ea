#include "win32_dialog.h"

#include <cstdio>

#include "dialog_template_bytes.h"
#include "platform/ui/artwork.h"
#include "platform/ui/page.h"
#include "wide_text.h"
#include "win32_ui_host.h"
#include "win32_api.h"

namespace ui::win32 {
namespace {

HWND AsWindow(void* window) { return static_cast<HWND>(window); }

// Into the host's transcript; a page's misuse also goes to stderr, as a window without a
// transcript would otherwise swallow it.
DialogModel::RecordSink TranscriptSink(Win32UiHost* host) {
    return [host](TranscriptEntry entry) {
        if (entry.kind == EntryKind::Error) std::fprintf(stderr, "ui: %s\n", FormatEntry(entry).c_str());
        host->Record(entry);
    };
}

// The artwork as a top-down 32-bit DIB section.
HBITMAP BitmapFromImage(const Image& image) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = image.width;
    info.bmiHeader.biHeight = -image.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) return nullptr;
    auto* pixels = static_cast<uint32_t*>(bits);
    // 0xAARRGGBB is the DIB's own byte order (B, G, R, A in memory).
    for (size_t i = 0; i < image.pixels.size(); ++i) pixels[i] = image.pixels[i];
    return bitmap;
}

HICON ProgramIcon(int iconId, int size) {
    return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(iconId), IMAGE_ICON,
                                           size, size, LR_DEFAULTCOLOR | LR_SHARED));
}

}  // namespace

Win32Dialog::Win32Dialog(Win32UiHost& host, const DialogTemplate& dialog, Page& page, void* window,
                         uint64_t serial)
    : ModelDialogHost(dialog, page, serial, TranscriptSink(&host),
                      // From any thread: PostMessageW is safe from any thread, and the
                      // window's queue lock keeps the window alive until it is closed.
                      [window] { ::PostMessageW(AsWindow(window), kRunQueuedMessage, 0, 0); }),
      host_(host),
      window_(window),
      appliedStyle_(dialog.style) {
    SetPictures();
}

void* Win32Dialog::ControlWindow(int controlId) const {
    return ::GetDlgItem(AsWindow(window_), ItemId(controlId));
}

void Win32Dialog::SetPictures() {
    for (const ControlTemplate& control : Template().controls) {
        HWND item = static_cast<HWND>(ControlWindow(control.id));
        if (!item) continue;
        if (control.kind == ControlKind::Bitmap) {
            if (const Image* image = LoadBitmapResource(control.imageId)) {
                bitmap_ = BitmapFromImage(*image);
                ::SendMessageW(item, STM_SETIMAGE, IMAGE_BITMAP, LPARAM(bitmap_));
            }
        } else if (control.kind == ControlKind::Icon) {
            if (HICON icon = ProgramIcon(control.imageId, 32)) ::SendMessageW(item, STM_SETICON, WPARAM(icon), 0);
        }
    }
}

void Win32Dialog::ControlChanged(const ControlState& control, ControlAspect aspect) {
    HWND item = static_cast<HWND>(ControlWindow(control.id));
    if (!item) return;
    switch (aspect) {
    case ControlAspect::Text:
        if (control.kind == ControlKind::ReadOnlyEdit)
            ::SetWindowTextW(item, ToWideLines(control.text).c_str());
        else
            ::SetWindowTextW(item, ToWide(control.text).c_str());
        break;
    case ControlAspect::Visibility: ::ShowWindow(item, control.visible ? SW_SHOWNA : SW_HIDE); break;
    case ControlAspect::Enabled: ::EnableWindow(item, control.enabled ? TRUE : FALSE); break;
    case ControlAspect::Colour: ::InvalidateRect(item, nullptr, TRUE); break;
    case ControlAspect::Progress:
        ::SendMessageW(item, PBM_SETRANGE32, WPARAM(std::min(control.rangeMin, control.rangeMax)),
                       LPARAM(std::max(control.rangeMin, control.rangeMax)));
        ::SendMessageW(item, PBM_SETPOS, WPARAM(control.pos), 0);
        break;
    }
}

intptr_t Win32Dialog::ControlColour(void* dc, void* control) {
    int id = ::GetDlgCtrlID(static_cast<HWND>(control));
    for (const ControlState& state : Model().State().controls) {
        if (ItemId(state.id) != id || state.textColour == CLR_DEFAULT) continue;
        ::SetTextColor(static_cast<HDC>(dc), state.textColour);
        ::SetBkColor(static_cast<HDC>(dc), ::GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<intptr_t>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    return 0;
}

void Win32Dialog::MenuItemAppended(const WindowMenuItem& item) {
    HMENU menu = ::GetSystemMenu(AsWindow(window_), FALSE);
    if (!menu) return;
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING, item.id, ToWide(item.text).c_str());
}

void Win32Dialog::StyleChanged(uint32_t style) {
    HWND window = AsWindow(window_);
    // Only the bits the page changed: the dialog manager keeps others of its own.
    LONG_PTR current = ::GetWindowLongPtrW(window, GWL_STYLE);
    LONG_PTR changed = LONG_PTR(style ^ appliedStyle_);
    current = (current & ~changed) | (LONG_PTR(style) & changed);
    appliedStyle_ = style;
    ::SetWindowLongPtrW(window, GWL_STYLE, current);
    ::SetWindowPos(window, nullptr, 0, 0, 0, 0,
                   SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    // A window menu that did not exist before now has the items appended meanwhile.
    if (style & ui::WS_SYSMENU) ::DrawMenuBar(window);
}

void Win32Dialog::ShowRequested(bool show, bool changed) {
    HWND window = AsWindow(window_);
    ::ShowWindow(window, show ? SW_SHOW : SW_HIDE);
    if (show && Template().TakesForeground()) ::SetForegroundWindow(window);
    if (!changed || !show) return;
    everShown_ = true;
    host_.PageShown(*this);
}

void Win32Dialog::IconChanged(int iconId) {
    HWND window = AsWindow(window_);
    ::SendMessageW(window, WM_SETICON, ICON_SMALL, LPARAM(ProgramIcon(iconId, 16)));
    ::SendMessageW(window, WM_SETICON, ICON_BIG, LPARAM(ProgramIcon(iconId, 32)));
}

void Win32Dialog::TimerSet(UINT timerId, UINT periodMs) {
    ::SetTimer(AsWindow(window_), timerId, ScaledIntervalMs(periodMs), nullptr);
}

void Win32Dialog::TimerKilled(UINT timerId) { ::KillTimer(AsWindow(window_), timerId); }

void Win32Dialog::OnEnded(int result) {
    host_.PageClosing(*this);
    ::EndDialog(AsWindow(window_), result);
}

void Win32Dialog::OnClosed() {
    for (const auto& [id, period] : Model().State().timers) ::KillTimer(AsWindow(window_), id);
    ::KillTimer(AsWindow(window_), kDriverTimerId);
    if (bitmap_) ::DeleteObject(static_cast<HBITMAP>(bitmap_));
    bitmap_ = nullptr;
}

void Win32Dialog::MessageBox(std::string_view text, std::string_view caption) {
    if (!OnPageThread("MessageBox")) return;
    host_.ShowMessageBox(this, text, caption);
}

int Win32Dialog::RunChildPage(Page& child) {
    if (!OnPageThread("RunChildPage")) return -1;
    return host_.RunModal(child);
}

void Win32Dialog::DispatchToPage(UINT message, WPARAM wParam, LPARAM lParam) {
    GetPage().Dispatch(message, wParam, lParam);
    host_.NoteChange();
}

void Win32Dialog::OnCommand(int itemId, bool fromControl) {
    if (Ended()) return;
    if (fromControl) {
        // Back to the template's id: static controls' negative ids come as 16 bits.
        for (const ControlTemplate& control : Template().controls)
            if (ItemId(control.id) == itemId) return DispatchToPage(ui::WM_COMMAND, WPARAM(control.id), 0);
        return;
    }
    // Keys the dialog manager turns into commands: Escape is IDCANCEL whether or not the
    // page has such a button; Enter names the default button, which must be there to press.
    if (itemId == ui::IDCANCEL) {
        GetPage().OnCancel();
        host_.NoteChange();
        return;
    }
    const ControlState* button = Model().Find(itemId);
    if (button && button->visible && button->enabled) DispatchToPage(ui::WM_COMMAND, WPARAM(itemId), 0);
}

bool Win32Dialog::Handle(unsigned message, uintptr_t wParam, intptr_t lParam, intptr_t& result) {
    result = 0;
    switch (message) {
    case kRunQueuedMessage:
        if (RunQueued()) host_.NoteChange();
        return true;
    case kAskDriverMessage:
        host_.AskDriver();
        return true;
    case 0x0113:  // WM_TIMER
        if (wParam == kDriverTimerId) {
            ::KillTimer(AsWindow(window_), kDriverTimerId);
            host_.NoteChange();
        } else if (!Ended()) {
            DispatchToPage(ui::WM_TIMER, wParam, 0);
        }
        return true;
    case 0x0111:  // WM_COMMAND
        OnCommand(LOWORD(wParam), lParam != 0);
        return true;
    case 0x0112: {  // WM_SYSCOMMAND
        UINT command = UINT(wParam & 0xFFF0);
        if (Model().State().HasMenuCommand(command) && command != ui::SC_CLOSE) {
            if (!Ended()) DispatchToPage(ui::WM_SYSCOMMAND, command, 0);
            return true;
        }
        return false;  // the window's own commands (close box, move) as Windows does them
    }
    case 0x0010:  // WM_CLOSE
        // The page decides whether it closes; without a close box there is nothing to click.
        if (!Ended() && (GetStyle() & ui::WS_SYSMENU)) DispatchToPage(ui::WM_CLOSE, 0, 0);
        return true;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        result = ControlColour(reinterpret_cast<void*>(wParam), reinterpret_cast<void*>(lParam));
        return result != 0;
    default: return false;
    }
}

}  // namespace ui::win32
