#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/ui/artwork.h"
#include "platform/ui/dialog_state.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/string_table.h"
#include "platform/ui/text_encoding.h"

namespace ui {
namespace {

struct StringCase {
    int id;
    const char* text;
};

TEST(StringTable, HoldsEachTextExactly) {
    const StringCase cases[] = {
        {101, "&About Oberix..."},
        {102, "System Information"},
        {103, "Model : Vorn Tova Q7 "},
        {104, "ROM Version : "},
        {105, "Language : "},
        {109, "Copy Complete.\n"},
        {110, "The device is upgrading now and will take about 5 minutes to complete.\n "},
        {112, "Tap Start->Settings->System Information in your Pocket PC to check your operating "
              "system version."},
        {114, "\n     *The AC adapter is not connected."},
        {115, "\n     *Battery power is too low to begin the update."},
        {116, "\n     *The update does not support this language version."},
        {118, "\n     *The update is the same as your current ROM image. \n      You do not need "
              "to update your Pocket PC."},
        {119, "Advanced"},
        {120, "Basic"},
        {121, "English"},
        {122, "French"},
        {123, "German"},
        {124, "Spanish"},
        {125, "Italian"},
        {126, "Caution"},
        {127, "Update complete!"},
        {128, "Connect your device to a computer using a sync cable or cradle before running the "
              "Velkor. Ensure that ActiveSync is installed on the computer and that the "
              "ActiveSync connection is successful."},
        {130, "Copy incomplete! The Velkor  procedure CANNOT proceed."},
        {132, "Copy File..."},
        {133, "The integrity check on the Velkor file failed.\nReinstall the Velkor program."},
        {140, "The device came back with ROM build %s instead of %s.\nThe update did not take "
              "effect. Run the Velkor program again to update the device."},
        {141, "The device came back, but its ROM build could not be read, so the update could "
              "not be confirmed.\nTap Start->Settings->System Information in your Pocket PC to "
              "check the operating system version. If it is not the new one, run the Velkor "
              "program again."},
        {142, "The device has not come back after the update. The update may have been "
              "interrupted, for example by a loss of power, and the device may not start.\n"
              "Connect the AC adapter and reset the device. If it does not start and connect, "
              "it needs service."},
    };
    for (const StringCase& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_TRUE(HasString(c.id));
        EXPECT_EQ(LoadString(c.id), c.text);
    }
    EXPECT_EQ(AllStrings().size(), std::size(cases)) << "an entry without a checked text";
}

TEST(StringTable, UnknownNumbersGiveNothing) {
    for (int id : {0, 100, 106, 117, 129, 131, 134, 65535}) {
        EXPECT_FALSE(HasString(id)) << id;
        EXPECT_TRUE(LoadString(id).empty()) << id;
    }
}

struct DialogCase {
    int id;
    const char* caption;
    int cx, cy;
    const char* font;
    int points;
    bool windowMenu;
    bool topMost;
};

TEST(DialogTemplates, CaptionSizeFontAndFrame) {
    const DialogCase cases[] = {
        {100, "About Oberix", 235, 55, "MS Sans Serif", 8, true, false},
        {102, "Vorn Tova Velkor", 278, 204, "System", 10, false, true},
        {129, "Vorn Tova Velkor", 203, 203, "System", 10, false, true},
        {130, "Vorn Tova Velkor", 203, 203, "System", 10, false, true},
        {133, "Vorn Tova Velkor", 203, 203, "System", 10, true, true},
        {134, "Caution", 203, 160, "System", 10, true, true},
        {136, "Caution", 203, 152, "System", 10, true, true},
    };
    for (const DialogCase& c : cases) {
        SCOPED_TRACE(c.id);
        const DialogTemplate* d = FindDialogTemplate(c.id);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->caption, c.caption);
        EXPECT_EQ(d->cx, c.cx);
        EXPECT_EQ(d->cy, c.cy);
        EXPECT_EQ(d->fontName, c.font);
        EXPECT_EQ(d->fontPoints, c.points);
        EXPECT_EQ(d->HasWindowMenu(), c.windowMenu);
        EXPECT_EQ(d->IsTopMost(), c.topMost);
        EXPECT_EQ(d->TakesForeground(), c.topMost);
        EXPECT_TRUE(d->style & WS_CAPTION);
        EXPECT_TRUE(d->style & DS_MODALFRAME);
    }
    EXPECT_EQ(AllDialogTemplates().size(), std::size(cases));
    EXPECT_EQ(FindDialogTemplate(101), nullptr);
}

struct ControlCase {
    int dialog;
    int id;
    ControlKind kind;
    const char* text;
    bool hidden;
    bool disabled;
    bool red;
};

TEST(DialogTemplates, ControlsCarryTheirTextsAndStates) {
    using K = ControlKind;
    const ControlCase cases[] = {
        {102, 2, K::PushButton, "Exit", false, false, false},
        {102, 1000, K::PushButton, "Next", false, false, false},
        {102, -1, K::StaticText, "This program upgrades your Vorn Tova Pocket PC.", false, false, false},
        {102, -2, K::Bitmap, "", false, false, false},
        {102, -3, K::StaticText, " *Use ActiveSync Backup to save your Pocket PC data. For additional "
            "information on backing up and restoring data, open ActiveSync on your computer and "
            "click Help on the menu bar. ", false, false, false},
        {102, -4, K::StaticText, " *If you have data stored in your Built-in Storage, copy the "
            "contents to a folder in My Device\\My Documents. ", false, false, false},
        {102, -5, K::StaticText, " *Connect the AC adapter. Disable any power management modes and "
            "close all programs on the host computer.", false, false, false},
        {102, -6, K::StaticText, "1.075", false, true, false},
        {102, -7, K::StaticText, "NOTICE: Back up your data before proceeding with the upgrade. All "
            "existing data will be lost.", false, false, false},
        {102, -8, K::StaticText, "Before you begin: ", false, false, false},
        {129, 1013, K::StaticText, "Velkor in Progress...", false, false, false},
        {129, 1014, K::StaticText, "The Velkor process takes about 15 minutes to complete using a "
            "USB cradle/cable. The update takes 45 minutes to complete using a serial "
            "cradle/cable.", false, false, false},
        {129, 1015, K::StaticText, "CAUTION: DO NOT use your system until the update process is "
            "complete! Doing so can leave your system in an unbootable state that requires "
            "service.", false, false, false},
        {129, 1011, K::StaticText, "Copy Files...5%", true, false, false},
        {129, 1007, K::ProgressBar, "", true, false, false},
        {129, 1010, K::ProgressBar, "", true, false, false},
        {129, 1, K::PushButton, "Button1", true, true, false},
        {130, 1003, K::PushButton, "Next", false, true, false},
        {130, 1004, K::PushButton, "Cancel", false, false, false},
        {130, -1, K::StaticText, "You can only use this program to upgrade the Vorn Tova model "
            "listed below. Other models are not supported.", false, false, false},
        {130, 1021, K::StaticText, "Click [Next] to continue.", false, false, false},
        {130, 1020, K::GroupBox, "System Information", false, false, false},
        {130, 1016, K::StaticText, "Model :", true, false, true},
        {130, 1017, K::StaticText, "ROM Version :", true, false, true},
        {130, 1018, K::StaticText, "Language :", true, false, true},
        {133, 1, K::DefPushButton, "Agree", false, false, false},
        {133, 2, K::PushButton, "Do not agree", false, false, false},
        {133, -1, K::StaticText, "Use the scroll bar to read the entire license agreement. Do you "
            "agree to all of the terms and conditions of the end user license agreement? ", false,
            false, false},
        {133, -2, K::StaticText, "By installing the application, you are agreeing to all of the "
            "terms and conditions of the end user license agreement.", false, false, false},
        {133, 1022, K::ReadOnlyEdit, "", false, false, false},
        {133, -3, K::StaticText, "Click [Do not agree] to cancel the installation procedure.  ",
            false, false, false},
        {134, 1, K::DefPushButton, "Continue", false, false, false},
        {134, 2, K::PushButton, "Cancel", false, false, false},
        {134, -1, K::StaticText, "The Velkor procedure clears all data in your Pocket PC.", false,
            false, false},
        {134, -2, K::StaticText, "Do you want to continue?", false, false, false},
        {134, -3, K::StaticText, "Ensure that the AC adapter is connected before proceeding.",
            false, false, false},
        {136, 2, K::PushButton, "OK", false, false, false},
        {136, -1, K::StaticText, "The Velkor procedure CANNOT proceed due to one of the following "
            "reasons:", false, false, false},
        {136, 1023, K::StaticText, "", false, false, false},
        {100, -1, K::Icon, "", false, false, false},
        {100, -2, K::StaticText, "Oberix Version 1.0", false, false, false},
        {100, 1, K::DefPushButton, "OK", false, false, false},
    };
    for (const ControlCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.dialog) + "/" + std::to_string(c.id));
        const DialogTemplate* d = FindDialogTemplate(c.dialog);
        ASSERT_NE(d, nullptr);
        const ControlTemplate* control = d->FindControl(c.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->kind, c.kind);
        EXPECT_EQ(control->text, c.text);
        EXPECT_EQ(control->hidden, c.hidden);
        EXPECT_EQ(control->disabled, c.disabled);
        EXPECT_EQ(control->redText, c.red);
    }
}

TEST(DialogTemplates, TemplateOrderOfTheWelcomePage) {
    // The tab order runs through the controls as listed.
    const int expected[] = {2, -1, 1000, -2, -3, -4, -5, -6, -7, -8};
    const DialogTemplate* d = FindDialogTemplate(IDD_WELCOME);
    ASSERT_EQ(d->controls.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) EXPECT_EQ(d->controls[i].id, expected[i]);
}

TEST(DialogTemplates, DeviceInformationLayout) {
    struct RectCase {
        int id;
        Rect rect;
    };
    const RectCase cases[] = {
        {1003, {35, 170, 50, 14}}, {1004, {115, 170, 50, 14}}, {-1, {17, 15, 165, 24}},
        {1021, {17, 48, 168, 8}},  {1020, {15, 80, 169, 75}},  {1016, {28, 95, 146, 8}},
        {1017, {28, 105, 149, 8}}, {1018, {28, 115, 148, 8}},
    };
    const DialogTemplate* d = FindDialogTemplate(IDD_DEVICE_INFO);
    for (const RectCase& c : cases) {
        SCOPED_TRACE(c.id);
        const ControlTemplate* control = d->FindControl(c.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->rect.x, c.rect.x);
        EXPECT_EQ(control->rect.y, c.rect.y);
        EXPECT_EQ(control->rect.cx, c.rect.cx);
        EXPECT_EQ(control->rect.cy, c.rect.cy);
    }
}

TEST(DialogTemplates, WelcomePictureFrame) {
    const ControlTemplate* picture = FindDialogTemplate(IDD_WELCOME)->FindControl(-2);
    EXPECT_EQ(picture->imageId, IDB_WELCOME);
    EXPECT_EQ(picture->rect.cx, 111);
    EXPECT_EQ(picture->rect.cy, 136);
    EXPECT_LT(picture->rect.x, 20) << "the picture sits at the page's left";
}

bool Overlap(const Rect& a, const Rect& b) {
    return a.x < b.x + b.cx && b.x < a.x + a.cx && a.y < b.y + b.cy && b.y < a.y + a.cy;
}

TEST(DialogTemplates, EveryLayoutFitsItsPage) {
    for (const DialogTemplate* d : AllDialogTemplates()) {
        SCOPED_TRACE(d->id);
        std::set<int> ids;
        for (const ControlTemplate& c : d->controls) {
            SCOPED_TRACE(c.id);
            EXPECT_TRUE(ids.insert(c.id).second) << "id used twice";
            EXPECT_NE(c.id, 0);
            if (c.id < 0) {
                EXPECT_TRUE(c.kind == ControlKind::StaticText || c.kind == ControlKind::Bitmap ||
                            c.kind == ControlKind::Icon)
                    << "only static controls go without an id";
            }
            EXPECT_GE(c.rect.x, 0);
            EXPECT_GE(c.rect.y, 0);
            EXPECT_GT(c.rect.cx, 0);
            EXPECT_GT(c.rect.cy, 0);
            EXPECT_LE(c.rect.x + c.rect.cx, d->cx);
            EXPECT_LE(c.rect.y + c.rect.cy, d->cy);
        }
        // Group boxes frame other controls; every other pair must stay apart.
        for (size_t i = 0; i < d->controls.size(); ++i)
            for (size_t j = i + 1; j < d->controls.size(); ++j) {
                const ControlTemplate& a = d->controls[i];
                const ControlTemplate& b = d->controls[j];
                if (a.kind == ControlKind::GroupBox || b.kind == ControlKind::GroupBox) continue;
                EXPECT_FALSE(Overlap(a.rect, b.rect)) << a.id << " overlaps " << b.id;
            }
    }
}

TEST(DialogState, InitialStateFollowsTheTemplate) {
    DialogState state = InitialState(*FindDialogTemplate(IDD_DEVICE_INFO));
    EXPECT_EQ(state.caption, "Vorn Tova Velkor");
    EXPECT_FALSE(state.HasWindowMenu());
    ASSERT_NE(state.Find(IDC_MODEL_TEXT), nullptr);
    EXPECT_FALSE(state.Find(IDC_MODEL_TEXT)->visible);
    EXPECT_EQ(state.Find(IDC_MODEL_TEXT)->textColour, RGB(255, 0, 0));
    EXPECT_EQ(RGB(255, 0, 0), 255u);
    EXPECT_EQ(state.Find(IDC_SYSTEM_INFO_GROUP)->textColour, CLR_DEFAULT);
    EXPECT_FALSE(state.Find(IDC_INFO_NEXT)->enabled);
    EXPECT_EQ(state.Find(9999), nullptr);
    EXPECT_EQ(state.DefaultButton(), nullptr);
    EXPECT_EQ(InitialState(*FindDialogTemplate(IDD_AGREEMENT)).DefaultButton()->id, IDOK);
}

TEST(Artwork, IconSizesAndPalette) {
    for (int size : {16, 32}) {
        SCOPED_TRACE(size);
        const Image* icon = LoadIconResource(IDR_MAINFRAME, size);
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(icon->width, size);
        EXPECT_EQ(icon->height, size);
        ASSERT_EQ(icon->pixels.size(), size_t(size * size));
        std::set<uint32_t> colours(icon->pixels.begin(), icon->pixels.end());
        EXPECT_LE(colours.size(), 256u) << "the icon must fit a 256-colour palette";
        EXPECT_GE(colours.size(), 4u) << "a drawing, not a blank";
        EXPECT_EQ(icon->At(0, 0) >> 24, 0u) << "corners are transparent";
        EXPECT_EQ(icon->At(size / 2, size / 2) >> 24, 0xFFu) << "the middle is drawn";
    }
    EXPECT_EQ(LoadIconResource(IDR_MAINFRAME, 48), nullptr);
    EXPECT_EQ(LoadIconResource(129, 32), nullptr);
}

TEST(Artwork, WelcomeBitmapIsOpaqueTrueColour) {
    const Image* bitmap = LoadBitmapResource(IDB_WELCOME);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->width, 222);
    EXPECT_EQ(bitmap->height, 272);
    ASSERT_EQ(bitmap->pixels.size(), size_t(222 * 272));
    std::set<uint32_t> colours;
    for (uint32_t p : bitmap->pixels) {
        ASSERT_EQ(p >> 24, 0xFFu) << "24-bit pictures have no transparency";
        colours.insert(p);
    }
    EXPECT_GT(colours.size(), 256u) << "uses true colour (the gradient)";
    EXPECT_EQ(LoadBitmapResource(130), nullptr);
}

TEST(TextEncoding, TellsUtf8FromEightBitText) {
    struct Case {
        const char* name;
        std::string_view text;
        bool utf8;
    };
    const Case cases[] = {
        {"ascii", "License terms\r\n", true},
        {"empty", "", true},
        {"two-byte", "Gr\xC3\xBC\xC3\x9F" "e", true},
        {"four-byte", "\xF0\x9F\x98\x80", true},
        {"latin-1 byte", "Gr\xFC\xDF" "e", false},
        {"cut short", "\xE2\x82", false},
        {"overlong slash", "\xC0\xAF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"past U+10FFFF", "\xF4\x90\x80\x80", false},
        {"stray continuation", "a\x80" "b", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsValidUtf8(c.text), c.utf8) << c.name;
}

}  // namespace
}  // namespace ui
