// The wizard's dialog templates. Where a page's layout is not fixed elsewhere the
// rectangles follow an ordinary installer page: text top left, buttons along the bottom.
#include "platform/ui/dialog_template.h"

#include <array>

namespace ui {
namespace {

using K = ControlKind;

constexpr uint32_t kPageStyle = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFOREGROUND;
constexpr uint32_t kPageWithMenuStyle = kPageStyle | WS_SYSMENU;

constexpr std::string_view kWizardCaption = "Vorn Tova Velkor";
constexpr std::string_view kSystemFont = "System";

// About box, 235 x 55.
constexpr std::array kAbout = {
    ControlTemplate{-1, K::Icon, "", {11, 14, 20, 20}, false, false, false, TextAlign::Left,
                    IDR_MAINFRAME},
    ControlTemplate{-2, K::StaticText, "Oberix Version 1.0", {40, 10, 119, 8}},
    ControlTemplate{-3, K::StaticText, "ROM update wizard for the Vorn Tova Pocket PC.",
                    {40, 25, 130, 18}},
    ControlTemplate{IDOK, K::DefPushButton, "OK", {178, 7, 50, 14}},
};

// Welcome page, 278 x 204: the picture on the left, the notes on the right.
constexpr std::array kWelcome = {
    ControlTemplate{IDCANCEL, K::PushButton, "Exit", {218, 176, 50, 14}},
    ControlTemplate{-1, K::StaticText, "This program upgrades your Vorn Tova Pocket PC.",
                    {126, 8, 145, 18}},
    ControlTemplate{IDC_NEXT, K::PushButton, "Next", {160, 176, 50, 14}},
    ControlTemplate{-2, K::Bitmap, "", {7, 7, 111, 136}, false, false, false, TextAlign::Left,
                    IDB_WELCOME},
    ControlTemplate{-3, K::StaticText,
                    " *Use ActiveSync Backup to save your Pocket PC data. For additional "
                    "information on backing up and restoring data, open ActiveSync on your "
                    "computer and click Help on the menu bar. ",
                    {126, 72, 145, 42}},
    ControlTemplate{-4, K::StaticText,
                    " *If you have data stored in your Built-in Storage, copy the contents to "
                    "a folder in My Device\\My Documents. ",
                    {126, 116, 145, 26}},
    ControlTemplate{-5, K::StaticText,
                    " *Connect the AC adapter. Disable any power management modes and close all "
                    "programs on the host computer.",
                    {126, 144, 145, 26}},
    ControlTemplate{-6, K::StaticText, "1.075", {240, 194, 34, 8}, false, true, false,
                    TextAlign::Right},
    ControlTemplate{-7, K::StaticText,
                    "NOTICE: Back up your data before proceeding with the upgrade. All existing "
                    "data will be lost.",
                    {126, 30, 145, 26}},
    ControlTemplate{-8, K::StaticText, "Before you begin: ", {126, 60, 145, 8}},
};

// Update progress page, 203 x 203.
constexpr std::array kProgress = {
    ControlTemplate{IDC_STATUS_TITLE, K::StaticText, "Velkor in Progress...", {12, 12, 179, 16}},
    ControlTemplate{IDC_STATUS_TEXT, K::StaticText,
                    "The Velkor process takes about 15 minutes to complete using a USB "
                    "cradle/cable. The update takes 45 minutes to complete using a serial "
                    "cradle/cable.",
                    {12, 32, 179, 36}},
    ControlTemplate{IDC_CAUTION_TEXT, K::StaticText,
                    "CAUTION: DO NOT use your system until the update process is complete! "
                    "Doing so can leave your system in an unbootable state that requires "
                    "service.",
                    {12, 72, 179, 36}},
    ControlTemplate{IDC_PROGRESS_TEXT, K::StaticText, "Copy Files...5%", {12, 118, 179, 10},
                    true},
    ControlTemplate{IDC_OVERALL_PROGRESS, K::ProgressBar, "", {12, 132, 179, 12}, true},
    ControlTemplate{IDC_FILE_PROGRESS, K::ProgressBar, "", {12, 150, 179, 12}, true},
    ControlTemplate{IDOK, K::PushButton, "Button1", {76, 176, 50, 14}, true, true},
};

// Device information page, 203 x 203.
constexpr std::array kDeviceInfo = {
    ControlTemplate{IDC_INFO_NEXT, K::PushButton, "Next", {35, 170, 50, 14}, false, true},
    ControlTemplate{IDC_INFO_CANCEL, K::PushButton, "Cancel", {115, 170, 50, 14}},
    ControlTemplate{-1, K::StaticText,
                    "You can only use this program to upgrade the Vorn Tova model listed "
                    "below. Other models are not supported.",
                    {17, 15, 165, 24}},
    ControlTemplate{IDC_CONTINUE_HINT, K::StaticText, "Click [Next] to continue.",
                    {17, 48, 168, 8}},
    ControlTemplate{IDC_SYSTEM_INFO_GROUP, K::GroupBox, "System Information", {15, 80, 169, 75}},
    ControlTemplate{IDC_MODEL_TEXT, K::StaticText, "Model :", {28, 95, 146, 8}, true, false,
                    true},
    ControlTemplate{IDC_ROM_VERSION_TEXT, K::StaticText, "ROM Version :", {28, 105, 149, 8}, true,
                    false, true},
    ControlTemplate{IDC_LANGUAGE_TEXT, K::StaticText, "Language :", {28, 115, 148, 8}, true, false,
                    true},
};

// Agreement page, 203 x 203.
constexpr std::array kAgreement = {
    ControlTemplate{IDOK, K::DefPushButton, "Agree", {41, 182, 55, 14}},
    ControlTemplate{IDCANCEL, K::PushButton, "Do not agree", {107, 182, 55, 14}},
    ControlTemplate{-1, K::StaticText,
                    "Use the scroll bar to read the entire license agreement. Do you agree to "
                    "all of the terms and conditions of the end user license agreement? ",
                    {7, 7, 189, 26}},
    ControlTemplate{-2, K::StaticText,
                    "By installing the application, you are agreeing to all of the terms and "
                    "conditions of the end user license agreement.",
                    {7, 139, 189, 27}},
    ControlTemplate{IDC_AGREEMENT_TEXT, K::ReadOnlyEdit, "", {7, 36, 189, 100}},
    ControlTemplate{-3, K::StaticText,
                    "Click [Do not agree] to cancel the installation procedure.  ",
                    {7, 168, 189, 10}},
};

// Caution page, 203 x 160.
constexpr std::array kCaution = {
    ControlTemplate{IDOK, K::DefPushButton, "Continue", {35, 130, 55, 14}},
    ControlTemplate{IDCANCEL, K::PushButton, "Cancel", {113, 130, 55, 14}},
    ControlTemplate{-1, K::StaticText, "The Velkor procedure clears all data in your Pocket PC.",
                    {20, 20, 163, 18}},
    ControlTemplate{-2, K::StaticText, "Do you want to continue?", {20, 84, 163, 10}},
    ControlTemplate{-3, K::StaticText,
                    "Ensure that the AC adapter is connected before proceeding.",
                    {20, 48, 163, 18}},
};

// Refusal page, 203 x 152.
constexpr std::array kRefusal = {
    ControlTemplate{IDCANCEL, K::PushButton, "OK", {76, 130, 50, 14}},
    ControlTemplate{-1, K::StaticText,
                    "The Velkor procedure CANNOT proceed due to one of the following reasons:",
                    {12, 12, 179, 18}},
    ControlTemplate{IDC_REASONS, K::StaticText, "", {12, 34, 179, 90}},
};

constexpr DialogTemplate kTemplates[] = {
    {IDD_ABOUTBOX, "About Oberix", 235, 55, "MS Sans Serif", 8,
     WS_POPUP | WS_CAPTION | DS_MODALFRAME | WS_SYSMENU, 0, kAbout},
    {IDD_WELCOME, kWizardCaption, 278, 204, kSystemFont, 10, kPageStyle, WS_EX_TOPMOST, kWelcome},
    {IDD_PROGRESS, kWizardCaption, 203, 203, kSystemFont, 10, kPageStyle, WS_EX_TOPMOST,
     kProgress},
    {IDD_DEVICE_INFO, kWizardCaption, 203, 203, kSystemFont, 10, kPageStyle, WS_EX_TOPMOST,
     kDeviceInfo},
    {IDD_AGREEMENT, kWizardCaption, 203, 203, kSystemFont, 10, kPageWithMenuStyle, WS_EX_TOPMOST,
     kAgreement},
    {IDD_CAUTION, "Caution", 203, 160, kSystemFont, 10, kPageWithMenuStyle, WS_EX_TOPMOST,
     kCaution},
    {IDD_REFUSAL, "Caution", 203, 152, kSystemFont, 10, kPageWithMenuStyle, WS_EX_TOPMOST,
     kRefusal},
};

constexpr std::array<const DialogTemplate*, std::size(kTemplates)> MakeIndex() {
    std::array<const DialogTemplate*, std::size(kTemplates)> index{};
    for (size_t i = 0; i < index.size(); ++i) index[i] = &kTemplates[i];
    return index;
}
constexpr auto kIndex = MakeIndex();

}  // namespace

const ControlTemplate* DialogTemplate::FindControl(int controlId) const {
    for (const ControlTemplate& control : controls)
        if (control.id == controlId) return &control;
    return nullptr;
}

const DialogTemplate* FindDialogTemplate(int templateId) {
    for (const DialogTemplate& dialog : kTemplates)
        if (dialog.id == templateId) return &dialog;
    return nullptr;
}

std::span<const DialogTemplate* const> AllDialogTemplates() { return kIndex; }

}  // namespace ui
