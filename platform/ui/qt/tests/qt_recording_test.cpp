// A recorded windowed run: the Qt host writes the same transcript as the headless host for
// the same page and user, and pictures each page when it is shown and when it closes and
// each message box when it opens.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

#include <functional>
#include <string>
#include <vector>

#include "platform/clock/clock.h"
#include "platform/ui/dialog_host.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/driver.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/page.h"
#include "platform/ui/qt/qt_ui_host.h"
#include "platform/ui/qt/screenshot_recorder.h"
#include "platform/ui/transcript.h"
#include "platform/ui/window_handle.h"

namespace ui::qt {
namespace {

constexpr UINT WM_STEP = WM_APP + 7;
constexpr UINT kStepTimer = 5;
constexpr int kClosedResult = 7;

// A progress page that goes through every kind of change a page can make: a posted
// message, a timer, repeated settings that change nothing, a frame change with the window
// hidden and shown again, a message box; it ends when the user closes it.
class BusyPage : public Page {
public:
    BusyPage() : Page(IDD_PROGRESS) {}
    bool endAtOnce = false;

    void OnInitDialog() override {
        DialogHost& h = *Host();
        if (endAtOnce) {
            h.EndDialog(IDCANCEL);
            return;
        }
        h.SetIcon(IDR_MAINFRAME);
        h.AppendWindowMenuItem("&About...", CMD_ABOUT);
        for (int i = 0; i < 2; ++i) {
            h.SetItemText(IDC_PROGRESS_TEXT, "Copy File...0 %");
            h.ShowItem(IDC_OVERALL_PROGRESS, true);
        }
        h.SetProgressRange(IDC_OVERALL_PROGRESS, 0, 200);
        h.Handle()->PostMessage(WM_STEP, 0, 0);
    }
    bool OnMessage(UINT message, WPARAM, LPARAM) override {
        if (message == WM_STEP) {
            Host()->ShowItem(IDC_PROGRESS_TEXT, true);
            Host()->SetTimer(kStepTimer, 20);
            return true;
        }
        if (message == WM_CLOSE) {
            Host()->EndDialog(kClosedResult);
            return true;
        }
        return false;
    }
    void OnTimer(UINT id) override {
        DialogHost& h = *Host();
        h.KillTimer(id);
        for (int i = 0; i < 2; ++i) h.SetProgressPos(IDC_OVERALL_PROGRESS, 100);
        h.SetItemText(IDC_PROGRESS_TEXT, "Copy File...50 %\nnext line");
        h.SetItemTextColour(IDC_PROGRESS_TEXT, RGB(255, 0, 0));
        h.EnableItem(IDC_PROGRESS_TEXT, false);
        h.ModifyStyle(0, WS_SYSMENU);
        h.ShowWindow(false);
        h.ShowWindow(true);
        h.MessageBox("All \"done\".", "Update complete!");
    }
};

// The user waits for the close box and uses it.
class CloseWhenPossible : public Driver {
public:
    UserAction OnPageIdle(const DialogState& page) override {
        return page.HasWindowMenu() ? UserAction::Close() : UserAction::None();
    }
};

class QtRecording : public ::testing::Test {
protected:
    void SetUp() override { tova::SetTimeScale(0.01); }
    void TearDown() override { tova::SetTimeScale(1.0); }

    // Runs `page` on the Qt host with the transcript and, when `folder` is not empty,
    // the screenshots.
    int RunOnQt(Page& page, Transcript& transcript, const QString& folder = {}) {
        QtUiHost host;
        CloseWhenPossible driver;
        host.SetDriver(&driver);
        host.SetTranscript(&transcript);
        if (!folder.isEmpty()) host.SetScreenshotRecorder(std::make_unique<ScreenshotRecorder>(folder));
        return host.RunPage(page);
    }
};

QSize PageSize(int templateId) {
    const DialogTemplate& t = *FindDialogTemplate(templateId);
    QSize base = DialogBaseUnits(TemplateFont(t.fontName, t.fontPoints));
    return QSize(DialogUnitsToPixelsX(t.cx, base), DialogUnitsToPixelsY(t.cy, base));
}

TEST_F(QtRecording, TranscriptIsTheHeadlessHostsLineForLine) {
    BusyPage headlessPage;
    CloseWhenPossible headlessDriver;
    HeadlessUiHost headless(headlessDriver);
    ASSERT_EQ(headless.RunPage(headlessPage), kClosedResult);

    BusyPage qtPage;
    Transcript transcript;
    ASSERT_EQ(RunOnQt(qtPage, transcript), kClosedResult);

    EXPECT_EQ(transcript.Text(), headless.GetTranscript().Text());
    // What unattended runs are read for, spelled out once.
    const std::string text = transcript.Text();
    for (const char* line : {"page 129: opened \"Vorn Tova Velkor\"\n", "page 129: window shown\n",
                             "page 129: text 1011 \"Copy File...50 %\\nnext line\"\n",
                             "page 129: position 1007 100\n",
                             "page 129: message box \"Update complete!\": \"All \\\"done\\\".\"\n",
                             "page 129: user closes the window\n", "page 129: ended with 7\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    EXPECT_EQ(transcript.Find(EntryKind::ItemText, IDD_PROGRESS, IDC_PROGRESS_TEXT).size(), 2u)
        << "setting the same text twice is one change";
    EXPECT_EQ(transcript.Find(EntryKind::ProgressPos).size(), 1u);
}

TEST_F(QtRecording, PicturesEachShowingTheBoxAndTheClose) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    BusyPage page;
    Transcript transcript;
    ASSERT_EQ(RunOnQt(page, transcript, folder.path()), kClosedResult);

    QStringList names = QDir(folder.path()).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(names, (QStringList{"001-page-129-shown.png", "002-page-129-shown.png",
                                  "003-box-129-update-complete.png", "004-page-129-closing.png"}));
    std::vector<QImage> images;
    for (const QString& name : names) {
        QImageReader reader(folder.filePath(name));
        EXPECT_EQ(reader.format(), "png") << name.toStdString();
        images.push_back(reader.read());
        ASSERT_FALSE(images.back().isNull()) << name.toStdString();
    }
    for (int page : {0, 1, 3}) EXPECT_EQ(images[page].size(), PageSize(IDD_PROGRESS)) << page;
    EXPECT_NE(images[0], images[1]) << "the second picture shows the bar and text the page set since";
    EXPECT_EQ(images[1], images[3]) << "nothing changed between showing again and closing";
    EXPECT_GT(images[2].width(), 0);
}

TEST_F(QtRecording, PageThatEndsBeforeItIsShownIsNotPictured) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    BusyPage page;
    page.endAtOnce = true;
    Transcript transcript;
    EXPECT_EQ(RunOnQt(page, transcript, folder.path()), IDCANCEL);
    EXPECT_TRUE(QDir(folder.path()).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(transcript.Text(), "page 129: opened \"Vorn Tova Velkor\"\npage 129: ended with 2\n");
}

TEST_F(QtRecording, PicturesThatCannotBeSavedDoNotStopThePage) {
    BusyPage page;
    Transcript transcript;
    EXPECT_EQ(RunOnQt(page, transcript, QStringLiteral("/nonexistent/tova/pictures")), kClosedResult);
}

TEST(ScreenshotNames, CaptionBecomesASlug) {
    const std::pair<const char*, const char*> cases[] = {
        {"Update complete!", "update-complete"},
        {"Caution", "caution"},
        {"  Vorn Tova -- Velkor 2 ", "vorn-tova-velkor-2"},
        {"Caf\xC3\xA9 (Fran\xC3\xA7" "ais)", "caf-fran-ais"},
        {"!!!", "untitled"},
        {"", "untitled"},
    };
    for (const auto& [caption, slug] : cases)
        EXPECT_EQ(ScreenshotRecorder::CaptionSlug(caption).toStdString(), slug) << caption;
}

}  // namespace
}  // namespace ui::qt
