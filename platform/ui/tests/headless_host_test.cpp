#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/clock/clock.h"
#include "platform/ui/dialog_host.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/page.h"
#include "platform/ui/string_table.h"
#include "test_page.h"

namespace ui {
namespace {

constexpr UINT WM_TEST = WM_APP + 1;
constexpr UINT WM_TEST_END = WM_APP + 2;

using test_support::TestPage;

class HeadlessHostTest : public ::testing::Test {
protected:
    void SetUp() override { tova::SetTimeScale(0.01); }
    void TearDown() override { tova::SetTimeScale(1.0); }

    ScriptedDriver driver;
    HeadlessUiHost host{driver};
};

TEST_F(HeadlessHostTest, PostsFromAnotherThreadArriveInOrder) {
    TestPage page(IDD_PROGRESS);
    std::vector<WPARAM> received;
    std::thread worker;
    page.init = [&](TestPage& p) {
        auto handle = p.H().Handle();
        worker = std::thread([handle] {
            for (WPARAM i = 0; i < 200; ++i) handle->PostMessage(WM_TEST, i, 0);
            handle->PostMessage(WM_TEST_END, 0, 0);
        });
    };
    page.message = [&](TestPage& p, UINT m, WPARAM w, LPARAM) {
        if (m == WM_TEST) received.push_back(w);
        if (m == WM_TEST_END) p.H().EndDialog(7);
        return m == WM_TEST || m == WM_TEST_END;
    };
    EXPECT_EQ(host.RunPage(page), 7);
    worker.join();
    ASSERT_EQ(received.size(), 200u);
    for (WPARAM i = 0; i < 200; ++i) EXPECT_EQ(received[i], i);
}

TEST_F(HeadlessHostTest, TimersTickOnTheScaledClockUntilKilled) {
    TestPage page(IDD_DEVICE_INFO);
    int once = 0, periodic = 0;
    uint64_t started = 0, ended = 0;
    page.init = [&](TestPage& p) {
        started = tova::NominalNowMs();
        p.H().SetTimer(200, 100);
        p.H().SetTimer(7, 1000);
    };
    page.timer = [&](TestPage& p, UINT id) {
        if (id == 200) {
            p.H().KillTimer(200);
            ++once;
        }
        if (id == 7 && ++periodic == 3) {
            ended = tova::NominalNowMs();
            p.H().EndDialog(IDOK);
        }
    };
    EXPECT_EQ(host.RunPage(page), IDOK);
    EXPECT_EQ(once, 1) << "a killed timer never ticks again";
    EXPECT_EQ(periodic, 3);
    EXPECT_GE(ended - started, 3000u) << "three 1000 ms periods";
    auto killed = host.GetTranscript().Find(EntryKind::TimerKilled, IDD_DEVICE_INFO);
    ASSERT_EQ(killed.size(), 1u);
    EXPECT_EQ(killed[0].value, 200);
}

TEST_F(HeadlessHostTest, SettingARunningTimerRestartsItWithTheNewPeriod) {
    TestPage page(IDD_AGREEMENT);
    std::vector<uint64_t> ticks;
    uint64_t start = 0;
    page.init = [&](TestPage& p) {
        start = tova::NominalNowMs();
        p.H().SetTimer(400, 60000);
        p.H().SetTimer(400, 500);
    };
    page.timer = [&](TestPage& p, UINT) {
        ticks.push_back(tova::NominalNowMs() - start);
        if (ticks.size() == 2) p.H().EndDialog(IDCANCEL);
    };
    driver.SetUnattendedFallback(false);
    EXPECT_EQ(host.RunPage(page), IDCANCEL);
    ASSERT_EQ(ticks.size(), 2u);
    EXPECT_GE(ticks[0], 500u);
    EXPECT_LT(ticks[1], 60000u);
}

TEST_F(HeadlessHostTest, BlockingCallRunsOnThePageThreadAndWaits) {
    TestPage page(IDD_PROGRESS);
    std::thread::id pageThread, callThread;
    std::atomic<bool> workerSawText{false};
    std::thread worker;
    page.init = [&](TestPage& p) {
        pageThread = std::this_thread::get_id();
        auto handle = p.H().Handle();
        worker = std::thread([&, handle] {
            bool ran = handle->SendCall([&](DialogHost& h) {
                callThread = std::this_thread::get_id();
                h.ShowItem(IDC_PROGRESS_TEXT, true);
                h.SetItemText(IDC_PROGRESS_TEXT, "Copy File...40 %");
            });
            // The call has finished by the time SendCall returns.
            handle->SendCall([&](DialogHost& h) {
                workerSawText = ran && h.GetItemText(IDC_PROGRESS_TEXT) == "Copy File...40 %";
                h.EndDialog(0);
            });
        });
    };
    EXPECT_EQ(host.RunPage(page), 0);
    worker.join();
    EXPECT_EQ(callThread, pageThread);
    EXPECT_TRUE(workerSawText);
    auto state = host.LastState(IDD_PROGRESS);
    ASSERT_TRUE(state);
    EXPECT_TRUE(state->Find(IDC_PROGRESS_TEXT)->visible);
    EXPECT_EQ(state->Find(IDC_PROGRESS_TEXT)->text, "Copy File...40 %");
}

TEST_F(HeadlessHostTest, CallsAndPostsToAGonePageAreDroppedWithoutRunning) {
    TestPage page(IDD_CAUTION);
    std::shared_ptr<WindowHandle> handle;
    page.init = [&](TestPage& p) {
        handle = p.H().Handle();
        EXPECT_TRUE(handle->IsWindow());
        p.H().EndDialog(IDOK);
    };
    EXPECT_EQ(host.RunPage(page), IDOK);
    ASSERT_TRUE(handle);
    EXPECT_FALSE(handle->IsWindow());
    bool ran = false;
    std::thread worker([&] {
        EXPECT_FALSE(handle->SendCall([&](DialogHost&) { ran = true; }));
        handle->PostMessage(WM_CLOSE, 0, 0);
    });
    worker.join();
    EXPECT_FALSE(ran);
    EXPECT_EQ(page.Host(), nullptr);
}

TEST_F(HeadlessHostTest, DestructionWaitingForAWorkerInACallDoesNotDeadlock) {
    // The page ends while its worker waits in a blocking call, and its destruction waits
    // for the worker: the call must be turned away, not left hanging.
    TestPage page(IDD_PROGRESS);
    std::atomic<bool> callRan{false};
    std::atomic<int> callResult{-1};
    std::future<void> workerDone;
    page.init = [&](TestPage& p) {
        auto handle = p.H().Handle();
        workerDone = std::async(std::launch::async, [&, handle] {
            handle->PostMessage(WM_TEST_END, 0, 0);
            callResult = handle->SendCall([&](DialogHost&) { callRan = true; });
        });
    };
    page.message = [&](TestPage& p, UINT m, WPARAM, LPARAM) {
        if (m == WM_TEST_END) p.H().EndDialog(0);
        return true;
    };
    bool workerEndedInTime = false;
    page.destroy = [&](TestPage&) {
        workerEndedInTime = workerDone.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    };
    EXPECT_EQ(host.RunPage(page), 0);
    EXPECT_TRUE(workerEndedInTime);
    EXPECT_FALSE(callRan);
    EXPECT_EQ(callResult, 0);
}

TEST_F(HeadlessHostTest, CallFromThePageThreadRunsAtOnce) {
    TestPage page(IDD_REFUSAL);
    bool ran = false;
    page.init = [&](TestPage& p) {
        EXPECT_TRUE(p.H().SendCall([&](DialogHost& h) {
            ran = true;
            h.SetItemText(IDC_REASONS, LoadString(IDS_REASON_AC));
        }));
        p.H().EndDialog(IDCANCEL);
    };
    EXPECT_EQ(host.RunPage(page), IDCANCEL);
    EXPECT_TRUE(ran);
    EXPECT_EQ(host.LastState(IDD_REFUSAL)->Find(IDC_REASONS)->text, LoadString(IDS_REASON_AC));
}

TEST_F(HeadlessHostTest, WorkerMessageBoxBlocksUntilDismissedWhileThePageKeepsTicking) {
    TestPage page(IDD_PROGRESS);
    int ticksDuringBox = 0;
    std::atomic<bool> boxOpen{false};
    std::atomic<bool> workerReturned{false};
    std::thread worker;
    // Up for 30 ticks, so that a loaded machine still gives the page a few of them.
    driver.SetMessageBoxHook([&](const MessageBoxInfo&) {
        boxOpen = true;
        return uint64_t(30000);
    });
    page.init = [&](TestPage& p) {
        p.H().SetTimer(700, 1000);
        auto handle = p.H().Handle();
        worker = std::thread([&, handle] {
            handle->SendCall([](DialogHost& h) {
                h.MessageBox(LoadString(IDS_COPY_INCOMPLETE), LoadString(IDS_CAUTION));
            });
            workerReturned = true;
            handle->PostMessage(WM_CLOSE, 0, 0);
        });
    };
    page.timer = [&](TestPage&, UINT) {
        if (boxOpen && !workerReturned) ++ticksDuringBox;
    };
    page.close = [](TestPage& p) { p.H().EndDialog(0); };
    EXPECT_EQ(host.RunPage(page), 0);
    worker.join();
    EXPECT_GE(ticksDuringBox, 3) << "timers keep running under the message box";
    auto boxes = host.GetTranscript().MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].ownerTemplateId, IDD_PROGRESS);
    EXPECT_EQ(boxes[0].caption, "Caution");
    EXPECT_EQ(boxes[0].text, "Copy incomplete! The Velkor  procedure CANNOT proceed.");
}

TEST_F(HeadlessHostTest, OwnerlessMessageBoxIsRecorded) {
    host.MessageBox(LoadString(IDS_NO_DEVICE), LoadString(IDS_CAUTION));
    auto boxes = host.GetTranscript().MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].ownerTemplateId, 0);
    EXPECT_EQ(boxes[0].text, LoadString(IDS_NO_DEVICE));
    EXPECT_NE(host.GetTranscript().Text().find("message box \"Caution\": \"Connect your device"),
              std::string::npos);
}

TEST_F(HeadlessHostTest, UnattendedDriverPressesGoOnOnlyOnceEnabled) {
    UnattendedDriver unattended;
    HeadlessUiHost unattendedHost(unattended);
    TestPage page(IDD_DEVICE_INFO);
    page.init = [](TestPage& p) { p.H().SetTimer(200, 100); };
    page.timer = [](TestPage& p, UINT id) {
        p.H().KillTimer(id);
        p.H().EnableItem(IDC_INFO_NEXT, true);
    };
    page.command = [](TestPage& p, int id) {
        if (id == IDC_INFO_NEXT) p.H().EndDialog(IDOK);
    };
    EXPECT_EQ(unattendedHost.RunPage(page), IDOK);
    auto entries = unattendedHost.GetTranscript().Entries();
    size_t enabledAt = 0, pressedAt = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].kind == EntryKind::ItemEnabled && entries[i].control == IDC_INFO_NEXT) enabledAt = i;
        if (entries[i].kind == EntryKind::UserPress) pressedAt = i;
    }
    ASSERT_GT(enabledAt, 0u);
    EXPECT_GT(pressedAt, enabledAt);
    EXPECT_EQ(unattendedHost.GetTranscript().Find(EntryKind::UserPress).size(), 1u);
}

TEST(UnattendedDriver, GoOnButtons) {
    struct Case {
        int page;
        int button;
        const char* text;
    };
    const Case cases[] = {
        {IDD_WELCOME, IDC_NEXT, "Next"},   {IDD_DEVICE_INFO, IDC_INFO_NEXT, "Next"},
        {IDD_AGREEMENT, IDOK, "Agree"},    {IDD_CAUTION, IDOK, "Continue"},
        {IDD_REFUSAL, IDCANCEL, "OK"},     {IDD_ABOUTBOX, IDOK, "OK"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        EXPECT_EQ(UnattendedDriver::GoOnButton(c.page), c.button);
        EXPECT_EQ(FindDialogTemplate(c.page)->FindControl(c.button)->text, c.text);
    }
    EXPECT_EQ(UnattendedDriver::GoOnButton(IDD_PROGRESS), 0);
}

struct ActionCase {
    const char* name;
    int page;
    UserAction action;
    int expected;  // result, or -2 for "still open"
};

TEST_F(HeadlessHostTest, UserActionsFollowTheWindow) {
    const ActionCase cases[] = {
        {"Escape cancels", IDD_WELCOME, UserAction::Escape(), IDCANCEL},
        {"Exit button", IDD_WELCOME, UserAction::Press(IDCANCEL), IDCANCEL},
        {"Enter presses the default button", IDD_CAUTION, UserAction::Enter(), IDOK},
        {"close box on a page that has one", IDD_AGREEMENT, UserAction::Close(), IDCANCEL},
        {"no close box without a window menu", IDD_DEVICE_INFO, UserAction::Close(), -2},
        {"disabled button cannot be pressed", IDD_DEVICE_INFO, UserAction::Press(IDC_INFO_NEXT), -2},
        {"hidden button cannot be pressed", IDD_PROGRESS, UserAction::Press(IDOK), -2},
        {"Enter without a default button does nothing", IDD_PROGRESS, UserAction::Enter(), -2},
        {"static text is no button", IDD_REFUSAL, UserAction::Press(IDC_REASONS), -2},
    };
    for (const ActionCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDriver script;
        script.SetUnattendedFallback(false);
        script.Then(c.page, c.action);
        HeadlessUiHost local(script);
        TestPage page(c.page);
        // Ends the page after a while if the action did not.
        page.init = [](TestPage& p) { p.H().SetTimer(99, 3000); };
        page.timer = [](TestPage& p, UINT id) {
            if (id == 99) p.H().EndDialog(-2);
        };
        EXPECT_EQ(local.RunPage(page), c.expected);
    }
}

TEST_F(HeadlessHostTest, CloseBoxAppearsWithTheWindowMenuStyle) {
    TestPage page(IDD_PROGRESS);
    driver.SetUnattendedFallback(false);
    driver.Then(IDD_PROGRESS, UserAction::Close());
    page.init = [](TestPage& p) { p.H().PostMessage(WM_TEST, 0, 0); };
    page.message = [](TestPage& p, UINT m, WPARAM, LPARAM) {
        if (m != WM_TEST) return false;
        p.H().ModifyStyle(0, WS_SYSMENU);
        p.H().ShowWindow(false);
        p.H().ShowWindow(true);
        return true;
    };
    page.close = [](TestPage& p) { p.H().EndDialog(0); };
    EXPECT_EQ(host.RunPage(page), 0);
    const Transcript& t = host.GetTranscript();
    ASSERT_EQ(t.Find(EntryKind::StyleChanged).size(), 1u);
    EXPECT_TRUE(t.Find(EntryKind::StyleChanged)[0].value & WS_SYSMENU);
    EXPECT_EQ(t.Find(EntryKind::PageHidden).size(), 1u);
    EXPECT_EQ(t.Find(EntryKind::UserClose).size(), 1u);
    EXPECT_TRUE(t.Find(EntryKind::UserRefused).empty());
}

TEST_F(HeadlessHostTest, WindowMenuItemOpensAChildPage) {
    TestPage welcome(IDD_WELCOME);
    TestPage about(IDD_ABOUTBOX);
    int aboutResult = 0;
    driver.Then(IDD_WELCOME, UserAction::SysCommand(CMD_ABOUT));
    driver.Then(IDD_WELCOME, UserAction::SysCommand(CMD_ABOUT));
    driver.Then(IDD_WELCOME, UserAction::Press(IDCANCEL));
    welcome.init = [](TestPage& p) {
        p.H().AppendWindowMenuItem(LoadString(IDS_ABOUTBOX), CMD_ABOUT);
        p.H().SetIcon(IDR_MAINFRAME);
    };
    welcome.sysCommand = [&](TestPage& p, UINT id) {
        if ((id & 0xFFF0) == CMD_ABOUT) aboutResult = p.H().RunChildPage(about);
    };
    EXPECT_EQ(host.RunPage(welcome), IDCANCEL);
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(aboutResult, IDOK) << "the unattended fallback presses the about box's OK";
    const Transcript& t = host.GetTranscript();
    // Each choice opens a new about box over the welcome page.
    EXPECT_EQ(t.PagesOpened(), (std::vector<int>{IDD_WELCOME, IDD_ABOUTBOX, IDD_ABOUTBOX}));
    EXPECT_EQ(t.PageResults(), (std::vector<std::pair<int, int>>{
                                   {IDD_ABOUTBOX, IDOK}, {IDD_ABOUTBOX, IDOK}, {IDD_WELCOME, IDCANCEL}}));
    auto state = host.LastState(IDD_WELCOME);
    ASSERT_EQ(state->windowMenu.size(), 2u);
    EXPECT_EQ(state->windowMenu[0].id, 0u) << "a separator comes first";
    EXPECT_EQ(state->windowMenu[1].text, "&About Oberix...");
    EXPECT_EQ(state->iconId, IDR_MAINFRAME);
}

TEST_F(HeadlessHostTest, EndingDuringInitialisationNeverShowsTheWindow) {
    TestPage page(IDD_DEVICE_INFO);
    page.init = [](TestPage& p) { p.H().EndDialog(IDCANCEL); };
    EXPECT_EQ(host.RunPage(page), IDCANCEL);
    EXPECT_TRUE(host.GetTranscript().Find(EntryKind::PageShown).empty());
    EXPECT_FALSE(host.LastState(IDD_DEVICE_INFO)->visible);
}

TEST_F(HeadlessHostTest, UnknownTemplateAndControlAreReported) {
    TestPage missing(4242);
    EXPECT_EQ(host.RunPage(missing), -1);
    TestPage page(IDD_REFUSAL);
    page.init = [](TestPage& p) {
        EXPECT_FALSE(p.H().SetItemText(777, "x"));
        EXPECT_FALSE(p.H().ShowItem(777, true));
        EXPECT_EQ(p.H().GetItemText(777), "");
        p.H().EndDialog(IDCANCEL);
    };
    EXPECT_EQ(host.RunPage(page), IDCANCEL);
    auto errors = host.GetTranscript().Find(EntryKind::Error);
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_NE(errors[0].text.find("4242"), std::string::npos);
    EXPECT_NE(errors[1].text.find("777"), std::string::npos);
}

TEST_F(HeadlessHostTest, ProgressBarsKeepTheirPositionInRange) {
    TestPage page(IDD_PROGRESS);
    page.init = [](TestPage& p) {
        DialogHost& h = p.H();
        h.SetProgressRange(IDC_OVERALL_PROGRESS, 0, 100);
        h.SetProgressPos(IDC_OVERALL_PROGRESS, 3);
        h.SetProgressPos(IDC_FILE_PROGRESS, 150);
        EXPECT_EQ(h.GetProgressPos(IDC_FILE_PROGRESS), 100);
        h.SetProgressPos(IDC_FILE_PROGRESS, -5);
        EXPECT_EQ(h.GetProgressPos(IDC_FILE_PROGRESS), 0);
        h.SetProgressRange(IDC_OVERALL_PROGRESS, 10, 20);
        EXPECT_EQ(h.GetProgressPos(IDC_OVERALL_PROGRESS), 10);
        h.EndDialog(0);
    };
    EXPECT_EQ(host.RunPage(page), 0);
    auto positions = host.GetTranscript().Find(EntryKind::ProgressPos, IDD_PROGRESS, IDC_FILE_PROGRESS);
    ASSERT_EQ(positions.size(), 2u);
    EXPECT_EQ(positions[0].value, 100);
    EXPECT_EQ(positions[1].value, 0);
}

TEST_F(HeadlessHostTest, TranscriptReadsAsTheSessionWent) {
    TestPage page(IDD_DEVICE_INFO);
    page.init = [](TestPage& p) {
        DialogHost& h = p.H();
        h.SetItemText(IDC_MODEL_TEXT, "Model : Vorn Tova Q7 Advanced");
        h.SetItemText(IDC_MODEL_TEXT, "Model : Vorn Tova Q7 Advanced");  // no change, no entry
        h.ShowItem(IDC_MODEL_TEXT, true);
        h.EnableItem(IDC_INFO_NEXT, true);
        h.SetItemTextColour(IDC_LANGUAGE_TEXT, RGB(0, 0, 255));
        h.SetTimer(200, 100);
        h.KillTimer(200);
        h.SetItemText(IDC_REASONS, "no such control here");
        h.EndDialog(IDOK);
    };
    EXPECT_EQ(host.RunPage(page), IDOK);
    const std::string expected =
        "page 130: opened \"Vorn Tova Velkor\"\n"
        "page 130: text 1016 \"Model : Vorn Tova Q7 Advanced\"\n"
        "page 130: show 1016\n"
        "page 130: enable 1003\n"
        "page 130: colour 1018 0x00ff0000\n"
        "page 130: timer 200 every 100 ms\n"
        "page 130: timer 200 stopped\n"
        "page 130: error: SetItemText: no control 1023\n"
        "page 130: ended with 1\n";
    EXPECT_EQ(host.GetTranscript().Text(), expected);
}

TEST_F(HeadlessHostTest, LineFeedsStayVisibleInTheTranscript) {
    host.MessageBox(LoadString(IDS_INTEGRITY_FAILED), LoadString(IDS_CAUTION));
    EXPECT_EQ(host.GetTranscript().Text(),
              "message box \"Caution\": \"The integrity check on the Velkor file failed.\\nReinstall "
              "the Velkor program.\"\n");
}

TEST_F(HeadlessHostTest, DirectCallsFromAnotherThreadAreRefusedAndReported) {
    TestPage page(IDD_PROGRESS);
    std::thread worker;
    bool refused = false;
    page.init = [&](TestPage& p) {
        DialogHost* h = &p.H();
        worker = std::thread([&, h] {
            refused = !h->SetItemText(IDC_STATUS_TITLE, "wrong thread");
            h->PostMessage(WM_CLOSE, 0, 0);
        });
    };
    page.close = [](TestPage& p) { p.H().EndDialog(0); };
    EXPECT_EQ(host.RunPage(page), 0);
    worker.join();
    EXPECT_TRUE(refused);
    EXPECT_EQ(host.LastState(IDD_PROGRESS)->Find(IDC_STATUS_TITLE)->text, "Velkor in Progress...");
    EXPECT_EQ(host.GetTranscript().Find(EntryKind::Error).size(), 1u);
}

}  // namespace
}  // namespace ui
