#include "dialog_template_bytes.h"

#include "wide_text.h"
#include "win32_api.h"

namespace ui::win32 {
namespace {

class Writer {
public:
    void Word(uint16_t value) { words_.push_back(value); }
    void Dword(uint32_t value) {
        Word(uint16_t(value & 0xFFFF));
        Word(uint16_t(value >> 16));
    }
    void Text(std::string_view text) {
        for (wchar_t unit : ToWide(text)) Word(uint16_t(unit));
        Word(0);
    }
    void Text(const wchar_t* text) {
        for (; *text; ++text) Word(uint16_t(*text));
        Word(0);
    }
    // Every item starts on a DWORD boundary.
    void AlignDword() {
        if (words_.size() % 2) Word(0);
    }
    std::vector<uint16_t> Take() { return std::move(words_); }

private:
    std::vector<uint16_t> words_;
};

constexpr uint16_t kButtonAtom = 0x0080;
constexpr uint16_t kEditAtom = 0x0081;
constexpr uint16_t kStaticAtom = 0x0082;

struct ItemClass {
    uint16_t atom;             // 0: the class is named
    const wchar_t* name;
    uint32_t style;
};

ItemClass ClassOf(const ControlTemplate& control) {
    switch (control.kind) {
    case ControlKind::PushButton: return {kButtonAtom, nullptr, BS_PUSHBUTTON | WS_TABSTOP};
    case ControlKind::DefPushButton: return {kButtonAtom, nullptr, BS_DEFPUSHBUTTON | WS_TABSTOP};
    case ControlKind::GroupBox: return {kButtonAtom, nullptr, BS_GROUPBOX};
    case ControlKind::ReadOnlyEdit:
        return {kEditAtom, nullptr,
                ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ui::WS_VSCROLL | ui::WS_BORDER | WS_TABSTOP};
    case ControlKind::ProgressBar: return {0, PROGRESS_CLASSW, ui::WS_BORDER};
    // The picture fills the template's rectangle: a static control would otherwise grow to
    // the bitmap's own size, over the text beside it wherever the dialog font's units are
    // smaller than the 2 pixels the picture was drawn for (Wine's System font).
    case ControlKind::Bitmap: return {kStaticAtom, nullptr, SS_BITMAP | SS_REALSIZECONTROL};
    case ControlKind::Icon: return {kStaticAtom, nullptr, SS_ICON};
    case ControlKind::StaticText: break;
    }
    uint32_t align = control.align == TextAlign::Right ? SS_RIGHT
                     : control.align == TextAlign::Center ? SS_CENTER
                                                          : SS_LEFT;
    return {kStaticAtom, nullptr, align | SS_NOPREFIX};
}

}  // namespace

std::vector<uint16_t> DialogTemplateBytes(const DialogTemplate& dialog) {
    Writer out;
    out.Dword(dialog.style | DS_SETFONT | DS_CENTER);
    out.Dword(dialog.exStyle);
    out.Word(uint16_t(dialog.controls.size()));
    out.Word(0);
    out.Word(0);
    out.Word(uint16_t(dialog.cx));
    out.Word(uint16_t(dialog.cy));
    out.Word(0);  // no menu
    out.Word(0);  // the dialog class
    out.Text(dialog.caption);
    out.Word(uint16_t(dialog.fontPoints));
    out.Text(dialog.fontName);

    for (const ControlTemplate& control : dialog.controls) {
        out.AlignDword();
        ItemClass itemClass = ClassOf(control);
        uint32_t style = WS_CHILD | itemClass.style;
        if (!control.hidden) style |= ui::WS_VISIBLE;
        if (control.disabled) style |= ui::WS_DISABLED;
        out.Dword(style);
        out.Dword(0);
        out.Word(uint16_t(control.rect.x));
        out.Word(uint16_t(control.rect.y));
        out.Word(uint16_t(control.rect.cx));
        out.Word(uint16_t(control.rect.cy));
        out.Word(uint16_t(ItemId(control.id)));
        if (itemClass.atom) {
            out.Word(0xFFFF);
            out.Word(itemClass.atom);
        } else {
            out.Text(itemClass.name);
        }
        // Pictures get their image once the window exists; the edit its text from the page.
        bool picture = control.kind == ControlKind::Bitmap || control.kind == ControlKind::Icon;
        out.Text(picture ? std::string_view() : control.text);
        out.Word(0);  // no creation data
    }
    return out.Take();
}

}  // namespace ui::win32
