#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include <atomic>
#include <thread>

#include "platform/clock/clock.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/driver.h"
#include "platform/ui/page.h"
#include "platform/ui/qt/qt_dialog.h"
#include "platform/ui/qt/qt_ui_host.h"
#include "platform/ui/string_table.h"
#include "qt_test_support.h"
#include "test_page.h"

namespace ui::qt {
namespace {

constexpr UINT WM_TEST = WM_APP + 1;

using ui::test_support::TestPage;

QString ArtifactPath(const QString& name) {
    QDir().mkpath(TOVA_UI_ARTIFACT_DIR);
    return QString(TOVA_UI_ARTIFACT_DIR) + "/" + name;
}

using ui::qt::test_support::RedPixels;

const auto* const kApplication =
    ::testing::AddGlobalTestEnvironment(new ui::qt::test_support::QtApplication("ui_qt_test"));

class QtHostTest : public ::testing::Test {
protected:
    void SetUp() override { tova::SetTimeScale(0.01); }
    void TearDown() override { tova::SetTimeScale(1.0); }

    // A window built from its template without running it modally.
    std::unique_ptr<QtDialog> Build(int templateId, Page& page) {
        auto dialog = std::make_unique<QtDialog>(nullptr, *FindDialogTemplate(templateId), page,
                                                 nullptr, 1);
        dialog->Open();
        dialog->show();
        QApplication::processEvents();
        return dialog;
    }
};

QString WidgetText(QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* button = qobject_cast<QPushButton*>(widget)) return button->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
    if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) return edit->toPlainText();
    return {};
}

TEST_F(QtHostTest, EveryTemplateBuildsItsControls) {
    for (const DialogTemplate* t : AllDialogTemplates()) {
        SCOPED_TRACE(t->id);
        TestPage page(t->id);
        auto dialog = Build(t->id, page);
        QSize base = dialog->BaseUnits();
        EXPECT_GT(base.width(), 2);
        EXPECT_GT(base.height(), 6);
        EXPECT_EQ(dialog->size(), QSize(DialogUnitsToPixelsX(t->cx, base), DialogUnitsToPixelsY(t->cy, base)));
        EXPECT_EQ(dialog->windowTitle().toStdString(), t->caption);
        EXPECT_EQ(bool(dialog->windowFlags() & Qt::WindowStaysOnTopHint), t->IsTopMost());
        EXPECT_EQ(bool(dialog->windowFlags() & Qt::WindowCloseButtonHint), t->HasWindowMenu());
        for (const ControlTemplate& c : t->controls) {
            SCOPED_TRACE(c.id);
            QWidget* w = dialog->ControlWidget(c.id);
            ASSERT_NE(w, nullptr);
            EXPECT_EQ(w->isHidden(), c.hidden);
            EXPECT_EQ(w->isEnabled(), !c.disabled);
            switch (c.kind) {
            case ControlKind::PushButton:
            case ControlKind::DefPushButton:
                ASSERT_NE(qobject_cast<QPushButton*>(w), nullptr);
                // A focused push button becomes the default for the time it has the focus,
                // as on Windows; the template's default button is one from the start.
                if (c.kind == ControlKind::DefPushButton) {
                    EXPECT_TRUE(qobject_cast<QPushButton*>(w)->isDefault());
                }
                break;
            case ControlKind::GroupBox: EXPECT_NE(qobject_cast<QGroupBox*>(w), nullptr); break;
            case ControlKind::ReadOnlyEdit:
                ASSERT_NE(qobject_cast<QPlainTextEdit*>(w), nullptr);
                EXPECT_TRUE(qobject_cast<QPlainTextEdit*>(w)->isReadOnly());
                break;
            case ControlKind::ProgressBar: EXPECT_NE(qobject_cast<QProgressBar*>(w), nullptr); break;
            case ControlKind::Bitmap:
            case ControlKind::Icon:
                ASSERT_NE(qobject_cast<QLabel*>(w), nullptr);
                EXPECT_FALSE(qobject_cast<QLabel*>(w)->pixmap().isNull());
                break;
            case ControlKind::StaticText: EXPECT_NE(qobject_cast<QLabel*>(w), nullptr); break;
            }
            EXPECT_EQ(WidgetText(w).toStdString(), c.text);
        }
        EXPECT_TRUE(dialog->grab().save(ArtifactPath(QString("template-%1.png").arg(t->id))));
        dialog->Destroy();
    }
}

TEST_F(QtHostTest, ControlsSitWhereTheirDialogUnitsSay) {
    TestPage page(IDD_DEVICE_INFO);
    auto dialog = Build(IDD_DEVICE_INFO, page);
    QSize base = dialog->BaseUnits();
    const Rect r = FindDialogTemplate(IDD_DEVICE_INFO)->FindControl(IDC_ROM_VERSION_TEXT)->rect;
    EXPECT_EQ(dialog->ControlWidget(IDC_ROM_VERSION_TEXT)->geometry(),
              QRect(DialogUnitsToPixelsX(r.x, base), DialogUnitsToPixelsY(r.y, base),
                    DialogUnitsToPixelsX(r.cx, base), DialogUnitsToPixelsY(r.cy, base)));
    // The picture frame of the welcome page holds the whole 222 x 272 picture when the
    // font's base units are those of the Windows system font.
    struct Case {
        int units;
        int base;
        int pixelsX;
        int pixelsY;
    };
    const Case cases[] = {{111, 8, 222, 111}, {136, 16, 544, 272}, {3, 7, 5, 3}, {0, 9, 0, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(DialogUnitsToPixelsX(c.units, QSize(c.base, c.base)), c.pixelsX) << c.units;
        EXPECT_EQ(DialogUnitsToPixelsY(c.units, QSize(c.base, c.base)), c.pixelsY) << c.units;
    }
    dialog->Destroy();
}

TEST_F(QtHostTest, FlaggedLinesDrawRed) {
    TestPage page(IDD_DEVICE_INFO);
    auto dialog = Build(IDD_DEVICE_INFO, page);
    dialog->SetItemText(IDC_MODEL_TEXT, std::string(LoadString(IDS_MODEL)) + std::string(LoadString(IDS_MODEL_ADVANCED)));
    dialog->SetItemText(IDC_ROM_VERSION_TEXT, "ROM Version : 1.00.03(03280301EN)");
    dialog->SetItemText(IDC_LANGUAGE_TEXT, std::string(LoadString(IDS_LANGUAGE)) + "English");
    for (int id : {IDC_MODEL_TEXT, IDC_ROM_VERSION_TEXT, IDC_LANGUAGE_TEXT}) dialog->ShowItem(id, true);
    dialog->EnableItem(IDC_INFO_NEXT, true);
    QApplication::processEvents();
    for (int id : {IDC_MODEL_TEXT, IDC_ROM_VERSION_TEXT, IDC_LANGUAGE_TEXT})
        EXPECT_GT(RedPixels(*dialog->ControlWidget(id)), 10) << id;
    for (int id : {IDC_SYSTEM_INFO_GROUP, IDC_CONTINUE_HINT, -1, IDC_INFO_NEXT, IDC_INFO_CANCEL})
        EXPECT_EQ(RedPixels(*dialog->ControlWidget(id)), 0) << id;
    EXPECT_TRUE(dialog->grab().save(ArtifactPath("device-information-shown.png")));

    // A colour given at run time, and taken back.
    dialog->SetItemTextColour(IDC_CONTINUE_HINT, RGB(255, 0, 0));
    EXPECT_GT(RedPixels(*dialog->ControlWidget(IDC_CONTINUE_HINT)), 10);
    dialog->SetItemTextColour(IDC_CONTINUE_HINT, CLR_DEFAULT);
    EXPECT_EQ(RedPixels(*dialog->ControlWidget(IDC_CONTINUE_HINT)), 0);
    dialog->Destroy();
}

TEST_F(QtHostTest, ProgressAndEditKeepWhatThePageSet) {
    TestPage page(IDD_AGREEMENT);
    auto dialog = Build(IDD_AGREEMENT, page);
    const std::string licence = "Terms\r\nLine two \xE9t\xE9\r\n";  // 8-bit text, CR LF
    dialog->SetItemText(IDC_AGREEMENT_TEXT, licence);
    EXPECT_EQ(dialog->GetItemText(IDC_AGREEMENT_TEXT), licence);
    auto* edit = qobject_cast<QPlainTextEdit*>(dialog->ControlWidget(IDC_AGREEMENT_TEXT));
    EXPECT_EQ(edit->toPlainText(), QString::fromUtf8("Terms\nLine two \u00e9t\u00e9\n"));
    dialog->Destroy();

    TestPage progress(IDD_PROGRESS);
    auto bars = Build(IDD_PROGRESS, progress);
    bars->SetProgressRange(IDC_OVERALL_PROGRESS, 0, 100);
    bars->SetProgressPos(IDC_OVERALL_PROGRESS, 250);
    EXPECT_EQ(bars->GetProgressPos(IDC_OVERALL_PROGRESS), 100);
    EXPECT_EQ(qobject_cast<QProgressBar*>(bars->ControlWidget(IDC_OVERALL_PROGRESS))->value(), 100);
    bars->Destroy();
}

TEST_F(QtHostTest, DriverRunsAPageModally) {
    QtUiHost host;
    UnattendedDriver driver;
    host.SetDriver(&driver);
    bool topMostWhileOpen = false;
    host.SetIdleHook([&](QDialog& d, const DialogState&) {
        topMostWhileOpen = d.isVisible() && (d.windowFlags() & Qt::WindowStaysOnTopHint);
    });
    TestPage page(IDD_DEVICE_INFO);
    page.init = [](TestPage& p) { p.H().SetTimer(200, 100); };
    page.timer = [](TestPage& p, UINT id) {
        p.H().KillTimer(id);
        p.H().EnableItem(IDC_INFO_NEXT, true);
    };
    page.command = [](TestPage& p, int id) {
        if (id == IDC_INFO_NEXT) p.H().EndDialog(IDOK);
        if (id == IDC_INFO_CANCEL) p.H().EndDialog(IDCANCEL);
    };
    EXPECT_EQ(host.RunPage(page), IDOK);
    EXPECT_TRUE(topMostWhileOpen);
    EXPECT_EQ(page.Host(), nullptr);
}

TEST_F(QtHostTest, WorkerPostsCallsAndShowsAMessageBox) {
    QtUiHost host;
    ScriptedDriver driver;
    driver.SetUnattendedFallback(false);
    std::vector<MessageBoxInfo> boxes;
    driver.SetMessageBoxHook([&](const MessageBoxInfo& box) {
        boxes.push_back(box);
        return uint64_t(200);
    });
    host.SetDriver(&driver);
    TestPage page(IDD_PROGRESS);
    std::thread worker;
    std::vector<int> progress;
    bool closeBoxAfterStyle = false;
    std::atomic<bool> workerDone{false};
    page.init = [&](TestPage& p) {
        auto handle = p.H().Handle();
        worker = std::thread([&, handle] {
            handle->SendCall([](DialogHost& h) {
                for (int id : {IDC_OVERALL_PROGRESS, IDC_FILE_PROGRESS, IDC_PROGRESS_TEXT}) h.ShowItem(id, true);
            });
            for (int percent : {10, 50, 100}) handle->PostMessage(WM_TEST, 0, percent);
            handle->PostMessage(WM_TEST + 1, 0, 0);
            handle->SendCall([](DialogHost& h) {
                h.MessageBox(LoadString(IDS_INTEGRITY_FAILED), LoadString(IDS_CAUTION));
            });
            workerDone = true;
            handle->PostMessage(WM_CLOSE, 0, 0);
        });
    };
    page.message = [&](TestPage& p, UINT m, WPARAM, LPARAM l) {
        if (m == WM_TEST) {
            progress.push_back(int(l));
            p.H().SetProgressPos(IDC_OVERALL_PROGRESS, int(l));
        } else if (m == WM_TEST + 1) {
            p.H().ModifyStyle(0, WS_SYSMENU);
            p.H().ShowWindow(false);
            p.H().ShowWindow(true);
            auto* dialog = dynamic_cast<QDialog*>(p.Host());
            closeBoxAfterStyle = dialog && dialog->isVisible() &&
                                 (dialog->windowFlags() & Qt::WindowCloseButtonHint);
        } else if (m == WM_CLOSE) {
            p.H().EndDialog(0);
        } else {
            return false;
        }
        return true;
    };
    EXPECT_EQ(host.RunPage(page), 0);
    worker.join();
    EXPECT_TRUE(workerDone);
    EXPECT_EQ(progress, (std::vector<int>{10, 50, 100}));
    EXPECT_TRUE(closeBoxAfterStyle);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].ownerTemplateId, IDD_PROGRESS);
    EXPECT_EQ(boxes[0].caption, "Caution");
    EXPECT_EQ(boxes[0].text, LoadString(IDS_INTEGRITY_FAILED));
}

TEST_F(QtHostTest, CallsToAClosedWindowDoNotRun) {
    QtUiHost host;
    TestPage page(IDD_CAUTION);
    std::shared_ptr<WindowHandle> handle;
    page.init = [&](TestPage& p) {
        handle = p.H().Handle();
        p.H().EndDialog(IDOK);
    };
    EXPECT_EQ(host.RunPage(page), IDOK);
    bool ran = false;
    std::thread worker([&] {
        EXPECT_FALSE(handle->SendCall([&](DialogHost&) { ran = true; }));
        handle->PostMessage(WM_TEST, 0, 0);
    });
    worker.join();
    QApplication::processEvents();
    EXPECT_FALSE(ran);
    EXPECT_FALSE(handle->IsWindow());
}

struct KeyCase {
    const char* name;
    int page;
    UserAction action;
    int expected;
};

TEST_F(QtHostTest, KeysAndCloseBoxTakeTheToolkitPaths) {
    const KeyCase cases[] = {
        {"Escape cancels the caution page", IDD_CAUTION, UserAction::Escape(), IDCANCEL},
        {"Enter continues on the caution page", IDD_CAUTION, UserAction::Enter(), IDOK},
        {"close box of the agreement page", IDD_AGREEMENT, UserAction::Close(), IDCANCEL},
        {"Escape is the page's to ignore", IDD_PROGRESS, UserAction::Escape(), -2},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.name);
        QtUiHost host;
        ScriptedDriver driver;
        driver.SetUnattendedFallback(false);
        driver.Then(c.page, c.action);
        host.SetDriver(&driver);
        TestPage page(c.page);
        if (c.page == IDD_PROGRESS) page.cancel = [](TestPage&) {};
        page.init = [](TestPage& p) { p.H().SetTimer(99, 3000); };
        page.timer = [](TestPage& p, UINT) { p.H().EndDialog(-2); };
        EXPECT_EQ(host.RunPage(page), c.expected);
        EXPECT_TRUE(driver.Done());
    }
}

TEST_F(QtHostTest, WindowMenuOpensTheAboutBox) {
    QtUiHost host;
    ScriptedDriver driver;
    driver.Then(IDD_WELCOME, UserAction::SysCommand(CMD_ABOUT));
    driver.Then(IDD_WELCOME, UserAction::Press(IDCANCEL));
    host.SetDriver(&driver);
    bool aboutSaved = false, welcomeSaved = false;
    host.SetIdleHook([&](QDialog& d, const DialogState& state) {
        if (state.templateId == IDD_ABOUTBOX && !aboutSaved)
            aboutSaved = d.grab().save(ArtifactPath("about-over-welcome.png"));
        if (state.templateId == IDD_WELCOME && !welcomeSaved)
            welcomeSaved = d.grab().save(ArtifactPath("welcome-with-icon.png"));
    });
    TestPage welcome(IDD_WELCOME);
    TestPage about(IDD_ABOUTBOX);
    int aboutResult = 0;
    welcome.init = [](TestPage& p) {
        p.H().AppendWindowMenuItem(LoadString(IDS_ABOUTBOX), CMD_ABOUT);
        p.H().SetIcon(IDR_MAINFRAME);
    };
    welcome.sysCommand = [&](TestPage& p, UINT id) {
        if ((id & 0xFFF0) == CMD_ABOUT) aboutResult = p.H().RunChildPage(about);
    };
    EXPECT_EQ(host.RunPage(welcome), IDCANCEL);
    EXPECT_EQ(aboutResult, IDOK);
    EXPECT_TRUE(aboutSaved);
    EXPECT_TRUE(welcomeSaved);
}

TEST_F(QtHostTest, UnknownTemplateIsRefused) {
    QtUiHost host;
    TestPage page(4242);
    EXPECT_EQ(host.RunPage(page), -1);
}

}  // namespace
}  // namespace ui::qt
