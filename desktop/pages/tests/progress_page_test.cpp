// The progress page and its update worker: the page's handling of the worker's messages,
// and the worker's whole run and failure paths against an emulated handheld.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <string>

#include "desktop/device/link.h"
#include "desktop/device/model_flag.h"
#include "desktop/device/rapi_calls.h"
#include "desktop/device/transfer.h"
#include "desktop/device/update_messages.h"
#include "desktop/pages/progress_page.h"
#include "desktop/pages/update_worker.h"
#include "desktop/pages/update_worker_testing.h"
#include "platform/clock/clock.h"
#include "shared/segment_table.h"
#include "emulator/object_store.h"
#include "platform/ui/dialog_host.h"
#include "platform/ui/resources.h"
#include "platform/ui/string_table.h"
#include "wizard_fixture.h"

namespace wizard_test {
namespace {

using ui::DialogState;
using ui::EntryKind;
using ui::UserAction;
using update_worker_testing::Step;

constexpr uint64_t kLongWaitMs = 600000;

// ---- The page's handling of messages, with no worker behind it --------------------------

struct ProgressMessage {
    ui::UINT message;
    ui::LPARAM lParam;
    const char* text;  // IDC_PROGRESS_TEXT afterwards
    int overall;
    int file;
};

const ProgressMessage kProgressMessages[] = {
    {WM_UPD_FILE_PROGRESS, 0, "Copy Files...5%", 3, 0},
    {WM_UPD_FILE_PROGRESS, 99, "Copy Files...5%", 3, 99},
    {WM_UPD_OVERALL_PROGRESS, 10, "Copy File...10 %", 10, 99},
    {WM_UPD_FILE_PROGRESS, 6, "Copy File...10 %", 10, 6},
    {WM_UPD_OVERALL_PROGRESS, 54, "Copy File...54 %", 54, 6},
    {WM_UPD_OVERALL_PROGRESS, 100, "Copy File...100 %", 100, 6},
};

// A page without a worker has no close box before the copy is done: the test ends it as
// its worker would.
UserAction CloseAsTheWorkerWould(ProgressPage& page) {
    page.Host()->PostMessage(ui::WM_CLOSE, 0, 0);
    return UserAction::None();
}

// Posts the table's messages one at a time, checking the page after each, then closes it.
TEST_F(WizardTest, ProgressMessagesSetTextAndBars) {
    WithoutWorker();
    ProgressPage page;
    size_t next = 0;
    bool waiting = false;
    std::vector<std::string> problems;
    LambdaDriver driver;
    driver.onIdle = [&](const DialogState& state) {
        if (waiting) {
            const ProgressMessage& m = kProgressMessages[next];
            const auto* text = state.Find(ui::IDC_PROGRESS_TEXT);
            if (text->text != m.text || state.Find(ui::IDC_OVERALL_PROGRESS)->pos != m.overall ||
                state.Find(ui::IDC_FILE_PROGRESS)->pos != m.file) {
                problems.push_back("after message " + std::to_string(next) + ": \"" + text->text +
                                   "\" overall " + std::to_string(state.Find(ui::IDC_OVERALL_PROGRESS)->pos) +
                                   " file " + std::to_string(state.Find(ui::IDC_FILE_PROGRESS)->pos));
            }
            waiting = false;
            ++next;
        }
        if (next == std::size(kProgressMessages)) return CloseAsTheWorkerWould(page);
        page.Host()->PostMessage(kProgressMessages[next].message, 0, kProgressMessages[next].lParam);
        waiting = true;
        return UserAction::None();
    };
    EXPECT_EQ(RunPage(page, driver), 0);
    EXPECT_EQ(problems, std::vector<std::string>{});
    EXPECT_EQ(next, std::size(kProgressMessages));
}

TEST_F(WizardTest, ProgressPageOpensWithItsBarsHiddenAtThreeAndZero) {
    WithoutWorker();
    ProgressPage page;
    std::optional<DialogState> opened;
    LambdaDriver driver;
    driver.onIdle = [&](const DialogState& state) {
        if (!opened) opened = state;
        return CloseAsTheWorkerWould(page);
    };
    RunPage(page, driver);
    ASSERT_TRUE(opened);
    for (int id : {ui::IDC_OVERALL_PROGRESS, ui::IDC_FILE_PROGRESS, ui::IDC_PROGRESS_TEXT, ui::IDOK})
        EXPECT_FALSE(opened->Find(id)->visible) << id;
    EXPECT_EQ(opened->Find(ui::IDC_OVERALL_PROGRESS)->rangeMax, 100);
    EXPECT_EQ(opened->Find(ui::IDC_OVERALL_PROGRESS)->pos, 3);
    EXPECT_EQ(opened->Find(ui::IDC_FILE_PROGRESS)->pos, 0);
    EXPECT_EQ(opened->Find(ui::IDC_PROGRESS_TEXT)->text, "Copy Files...5%");
    EXPECT_EQ(opened->iconId, ui::IDR_MAINFRAME);
}

// Copy done, with the bars up as the worker shows them: the page hides them, says the
// handheld is upgrading and gains its close box, all from the message alone.
TEST_F(WizardTest, ProgressCopyDoneHidesTheBarsAndSaysTheHandheldIsUpgrading) {
    WithoutWorker();
    ProgressPage page;
    int step = 0;
    std::optional<DialogState> shown, done;
    LambdaDriver driver;
    driver.onIdle = [&](const DialogState& state) {
        switch (step++) {
        case 0:
            for (int id : kProgressItems) page.Host()->ShowItem(id, true);
            return UserAction::Wait(10);
        case 1:
            shown = state;
            page.Host()->PostMessage(WM_UPD_COPY_DONE, 0, 0);
            return UserAction::None();
        default:
            if (!done) done = state;
            return UserAction::Close();
        }
    };
    EXPECT_EQ(RunPage(page, driver), 0);
    ASSERT_TRUE(shown && done);
    EXPECT_FALSE(shown->HasWindowMenu());
    EXPECT_EQ(shown->Find(ui::IDC_STATUS_TITLE)->text, "Velkor in Progress...");
    for (int id : kProgressItems) {
        EXPECT_TRUE(shown->Find(id)->visible) << id;
        EXPECT_FALSE(done->Find(id)->visible) << id;
    }
    EXPECT_EQ(done->Find(ui::IDC_STATUS_TITLE)->text, "Copy Complete.\n");
    EXPECT_EQ(done->Find(ui::IDC_STATUS_TEXT)->text,
              "The device is upgrading now and will take about 5 minutes to complete.\n ");
    EXPECT_TRUE(done->HasWindowMenu());
    EXPECT_TRUE(host_->GetTranscript().MessageBoxes().empty());
}

// A worker that cannot be started (the system has no threads left): nothing would end the
// page, so it gains its close box and says so with string 130.
TEST_F(WizardTest, ProgressWorkerThatCannotStartGivesCloseBoxAndMessage) {
    update_worker_testing::SetThreadCreationFails(true);
    ProgressPage page;
    ui::ScriptedDriver driver;
    driver.SetUnattendedFallback(false);
    driver.Then(ui::IDD_PROGRESS, UserAction::Close());
    EXPECT_EQ(RunPage(page, driver), 0);
    std::vector<ui::MessageBoxInfo> boxes = host_->GetTranscript().MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, ui::LoadString(ui::IDS_COPY_INCOMPLETE));
    EXPECT_EQ(boxes[0].caption, "Caution");
    EXPECT_EQ(boxes[0].ownerTemplateId, ui::IDD_PROGRESS);
    EXPECT_TRUE(host_->LastState(ui::IDD_PROGRESS)->HasWindowMenu());
}

// The reconnect timer: ticks of other ids, and ticks while the link is down, do nothing; a
// tick with the link up claims nothing by itself (here the check it starts never answers);
// the check's answer that the handheld runs the package's build completes the update.
TEST_F(WizardTest, ProgressReconnectTimerIgnoresOtherIdsAndWaitsForTheCheck) {
    WithoutWorker();
    ProgressPage page;
    page.SetPackageBuild(5260300);
    int step = 0;
    std::vector<std::string> problems;
    auto completed = [&] {
        std::vector<ui::MessageBoxInfo> boxes = host_->GetTranscript().MessageBoxes();
        return !boxes.empty() && boxes.back().caption == "Update complete!";
    };
    LambdaDriver driver;
    driver.onIdle = [&](const DialogState& state) {
        auto post = [&](ui::UINT m, ui::WPARAM w, ui::LPARAM l = 0) { page.Host()->PostMessage(m, w, l); };
        switch (step++) {
        case 0: post(WM_UPD_WAIT_RECONNECT, 0); break;
        case 1:
            if (page.ReconnectTimer() != IDT_RECONNECT || state.timers.count(IDT_RECONNECT) == 0 ||
                state.timers.at(IDT_RECONNECT) != kReconnectPeriodMs)
                problems.push_back("reconnect timer not running every 2000 ms");
            g_bConnected = 1;
            post(ui::WM_TIMER, IDT_RECONNECT + 1);
            break;
        case 2:
            g_bConnected = 0;
            post(ui::WM_TIMER, IDT_RECONNECT);
            break;
        case 3:
            g_bConnected = 1;
            post(ui::WM_TIMER, IDT_RECONNECT);
            break;
        case 4:
            if (page.ReconnectTimer() != IDT_RECONNECT || state.timers.count(IDT_RECONNECT) == 0)
                problems.push_back("a foreign tick, a tick without link or a tick without a check stopped the timer");
            if (completed()) problems.push_back("completion reported before the build was checked");
            post(WM_UPD_RETURN_CHECKED, ui::WPARAM(ReturnedRom::kPackageBuild), 0x05260300);
            break;
        default: break;
        }
        return UserAction::None();
    };
    EXPECT_EQ(RunPage(page, driver), 0);
    EXPECT_EQ(problems, std::vector<std::string>{});
    EXPECT_EQ(page.ReconnectTimer(), 0u);
    std::vector<ui::MessageBoxInfo> boxes = host_->GetTranscript().MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes.back().text, ui::LoadString(ui::IDS_CHECK_VERSION));
    EXPECT_EQ(boxes.back().caption, "Update complete!");
    EXPECT_EQ(boxes.back().ownerTemplateId, ui::IDD_PROGRESS);
    EXPECT_TRUE(host_->LastState(ui::IDD_PROGRESS)->timers.empty());
}

// What the check of the returned handheld can answer, and what the page then says.
struct ReturnAnswer {
    const char* name;
    bool awaitingReturn;  // WM_UPD_WAIT_RECONNECT came first
    ReturnedRom found;
    uint32_t build;
    const char* caption;  // of the one box; nullptr: none, the page stays open
    const char* text;
};

const ReturnAnswer kReturnAnswers[] = {
    {"PackageBuild", true, ReturnedRom::kPackageBuild, 0x05260300, "Update complete!",
     "Tap Start->Settings->System Information in your Pocket PC to check your operating system "
     "version."},
    {"OldBuild", true, ReturnedRom::kOtherBuild, 0x05010100, "Caution",
     "The device came back with ROM build 05010100 instead of 05260300.\nThe update did not "
     "take effect. Run the Velkor program again to update the device."},
    {"UnreadableAtFirst", true, ReturnedRom::kUnreadable, 0, nullptr, nullptr},
    {"AnswerWhileNotAwaiting", false, ReturnedRom::kPackageBuild, 0x05260300, nullptr, nullptr},
};

class ProgressReturnAnswers : public WizardTest, public ::testing::WithParamInterface<ReturnAnswer> {};

TEST_P(ProgressReturnAnswers, DecideWhatThePageSays) {
    const ReturnAnswer& c = GetParam();
    WithoutWorker();
    ProgressPage page;
    page.SetPackageBuild(5260300);
    int step = 0;
    LambdaDriver driver;
    driver.onIdle = [&](const DialogState&) {
        switch (step++) {
        case 0:
            if (c.awaitingReturn) page.Host()->PostMessage(WM_UPD_WAIT_RECONNECT, 0, 0);
            return UserAction::Wait(10);
        case 1:
            page.Host()->PostMessage(WM_UPD_RETURN_CHECKED, ui::WPARAM(c.found), ui::LPARAM(c.build));
            return UserAction::None();
        case 2: return UserAction::Wait(100);
        default: return CloseAsTheWorkerWould(page);  // only reached while the page stays open
        }
    };
    EXPECT_EQ(RunPage(page, driver), 0);
    std::vector<ui::MessageBoxInfo> boxes = host_->GetTranscript().MessageBoxes();
    if (c.caption == nullptr) {
        EXPECT_TRUE(boxes.empty());
        EXPECT_GE(step, 4) << "the page ended by itself";
        return;
    }
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, c.caption);
    EXPECT_EQ(boxes[0].text, c.text);
    EXPECT_EQ(boxes[0].ownerTemplateId, ui::IDD_PROGRESS);
    EXPECT_LT(step, 4) << "the page did not end after its box";
    EXPECT_TRUE(host_->LastState(ui::IDD_PROGRESS)->timers.empty());
}

INSTANTIATE_TEST_SUITE_P(Page, ProgressReturnAnswers, ::testing::ValuesIn(kReturnAnswers),
                         [](const auto& info) { return std::string(info.param.name); });

// The bounded waits after the hand-over, on the scaled clock: a handheld that never comes
// back is given up after 15 minutes; one that is back but whose build is never read (here
// every check the page starts answers so) after 2 minutes from its return.
struct ReturnBound {
    const char* name;
    int32_t linked;
    uint64_t boundMs;
    int textId;
};

const ReturnBound kReturnBounds[] = {
    {"NeverBack", 0, 15 * 60 * 1000, ui::IDS_NOT_RETURNED},
    {"BackButNeverRead", 1, 2 * 60 * 1000, ui::IDS_RETURN_UNCONFIRMED},
};

class ProgressReturnBounds : public WizardTest, public ::testing::WithParamInterface<ReturnBound> {};

TEST_P(ProgressReturnBounds, EndThePageWithTheirMessage) {
    const ReturnBound& c = GetParam();
    tova::SetTimeScale(0.002);
    // The worker's thread answers too, before the hand-over: the page ignores that answer.
    update_worker_testing::SetThreadProcedure([](std::shared_ptr<UpdateWorkerContext> page) {
        page->window->PostMessage(WM_UPD_RETURN_CHECKED, ui::WPARAM(ReturnedRom::kUnreadable), 0);
        return 0;
    });
    ProgressPage page;
    page.SetPackageBuild(5260300);
    uint64_t handedOverAt = 0, boxAt = 0;
    LambdaDriver driver;
    driver.onIdle = [&](const DialogState&) {
        if (handedOverAt == 0) {
            g_bConnected = c.linked;
            handedOverAt = tova::NominalNowMs();
            page.Host()->PostMessage(WM_UPD_WAIT_RECONNECT, 0, 0);
        }
        return UserAction::None();
    };
    driver.onBox = [&](const ui::MessageBoxInfo& box) {
        boxAt = tova::NominalNowMs();
        return uint64_t(0);
    };
    EXPECT_EQ(RunPage(page, driver), 0);
    std::vector<ui::MessageBoxInfo> boxes = host_->GetTranscript().MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Caution");
    EXPECT_EQ(boxes[0].text, ui::LoadString(c.textId));
    EXPECT_GE(boxAt - handedOverAt, c.boundMs);
    // Within a few ticks of the bound (a tick is 2000 ms; the clock runs fast here).
    EXPECT_LE(boxAt - handedOverAt, c.boundMs + 5 * kReconnectPeriodMs);
}

INSTANTIATE_TEST_SUITE_P(Page, ProgressReturnBounds, ::testing::ValuesIn(kReturnBounds),
                         [](const auto& info) { return std::string(info.param.name); });

// Before the files are copied the page cannot be left: no close box, Escape and Enter do
// nothing. WM_UPD_COPY_DONE gives it the close box; closing then ends it with 0 and the
// waiting worker is abandoned after 2000 ms.
TEST_F(WizardTest, ProgressGainsItsCloseBoxOnCopyDone) {
    ProgressPage page;  // no handheld: the worker waits for the link for ever
    int step = 0;
    uint64_t closedAt = 0;
    LambdaDriver driver;
    driver.onIdle = [&](const DialogState& state) {
        switch (step++) {
        case 0: return UserAction::Close();
        case 1: return UserAction::Escape();
        case 2: return UserAction::Enter();
        case 3: page.Host()->PostMessage(ui::WM_COMMAND, ui::IDOK, 0); return UserAction::Wait(500);
        case 4:
            EXPECT_FALSE(state.HasWindowMenu());
            page.Host()->PostMessage(WM_UPD_COPY_DONE, 0, 0);
            return UserAction::None();
        default:
            closedAt = tova::NominalNowMs();
            return UserAction::Close();
        }
    };
    EXPECT_EQ(RunPage(page, driver), 0);
    uint64_t endedAt = tova::NominalNowMs();
    EXPECT_GE(step, 6);
    ui::Transcript& transcript = host_->GetTranscript();
    EXPECT_EQ(transcript.Find(EntryKind::UserRefused).size(), 1u) << "the first close has no box";
    EXPECT_TRUE(host_->LastState(ui::IDD_PROGRESS)->HasWindowMenu());
    // Hidden and shown again, so the frame is redrawn with the close box.
    std::vector<EntryKind> window;
    for (const ui::TranscriptEntry& e : transcript.Entries())
        if (e.kind == EntryKind::PageHidden || e.kind == EntryKind::PageShown) window.push_back(e.kind);
    EXPECT_EQ(window, (std::vector<EntryKind>{EntryKind::PageShown, EntryKind::PageHidden, EntryKind::PageShown}));
    // The destruction waited its 2000 ms for the worker before abandoning it.
    EXPECT_GE(endedAt - closedAt, kWorkerStopWaitMs);
    EXPECT_TRUE(WaitForUpdateWorkers(kLongWaitMs));
    EXPECT_EQ(g_hUpdateWorker, nullptr);
}

// ---- The worker against the emulated handheld -------------------------------------------

class ProgressRun : public WizardTest {
protected:
    // A linked handheld with the service library in \Windows (the welcome page put it
    // there), a package in the program folder, and the worker's steps recorded.
    void Prepare(bool fullPackage = true, bool corrupt = false) {
        StartHandheld();
        StartLinkMonitor();
        InstallServiceLibrary();
        g_bAdvancedModel = 1;  // as the pages before left it
        if (fullPackage) PutFullPackage({}, corrupt);
        update_worker_testing::SetStepHook([this](Step step) {
            {
                std::lock_guard lock(stepsMutex_);
                steps_.push_back(step);
                stepTimes_.push_back(tova::NominalNowMs());
            }
            if (step == Step::kHandOver && awaitFlashingAtHandOver) AwaitFlashing();
            if (onStep) onStep(step);
        });
    }
    // The flasher writes at the machine's own speed, not on the scaled clock: under a
    // sanitizer it outlasts the page's scaled wait for the handheld. Tests of what the page
    // does once the handheld is back hold the hand-over until it is, so that the page's wait
    // starts from there (the wait itself is tested on its own).
    void AwaitFlashing() {
        constexpr uint64_t kFlashingWaitMs = 2 * 60 * 60 * 1000;
        EXPECT_TRUE(Machine().WaitUntilBootCount(4, kFlashingWaitMs)) << "the flasher never restarted the handheld";
    }
    bool awaitFlashingAtHandOver = false;
    std::vector<Step> Steps() {
        std::lock_guard lock(stepsMutex_);
        return steps_;
    }
    // When `step` first began, on the nominal clock; 0 when it never did.
    uint64_t StepTime(Step step) {
        std::lock_guard lock(stepsMutex_);
        for (size_t i = 0; i < steps_.size(); ++i)
            if (steps_[i] == step) return stepTimes_[i];
        return 0;
    }
    size_t StepCount(Step step) {
        std::lock_guard lock(stepsMutex_);
        return size_t(std::count(steps_.begin(), steps_.end(), step));
    }
    // Runs the page, installing the default package's build, with a user who answers each
    // message box at once.
    int Run() {
        ProgressPage page;
        page.SetPackageBuild(kPackageBuild);
        ui::ScriptedDriver driver;
        if (onBox) driver.SetMessageBoxHook(onBox);
        return RunPage(page, driver);
    }
    bool StartupHas(const char16_t* shortcut) {
        return Machine().Store().Exists(std::u16string(u"\\Windows\\StartUp") + shortcut);
    }

    static constexpr int32_t kPackageBuild = 3280401;  // PackageSpec's default "03280401"
    std::vector<std::string> BoxTexts() {
        std::vector<std::string> texts;
        for (const ui::MessageBoxInfo& box : host_->GetTranscript().MessageBoxes()) {
            EXPECT_EQ(box.ownerTemplateId, ui::IDD_PROGRESS);
            texts.push_back(box.text);
        }
        return texts;
    }
    // Pulls the cable and waits until the link monitor has noticed.
    void DropLink() {
        Machine().SetCable(false);
        ASSERT_TRUE(WaitFor([] { return g_bConnected.load() != 1; }, kLongWaitMs));
    }

    std::function<void(Step)> onStep;
    std::function<uint64_t(const ui::MessageBoxInfo&)> onBox;

private:
    std::mutex stepsMutex_;
    std::vector<Step> steps_;
    std::vector<uint64_t> stepTimes_;
};

TEST_F(ProgressRun, WholeUpdateCopiesEverythingRestartsWarmAndReportsCompletion) {
    Prepare();
    awaitFlashingAtHandOver = true;
    // The two shortcuts go one after the other, \poutlook.lnk first, and both are gone
    // before the flasher is copied (the final cold boot puts them back).
    std::vector<std::string> shortcutProblems;
    onStep = [&](Step step) {
        bool outlook = StartupHas(kShortcutOutlook), welcome = StartupHas(kShortcutWelcome);
        if (step == Step::kDeleteOutlookShortcut && !(outlook && welcome))
            shortcutProblems.push_back("a shortcut went before its step");
        if (step == Step::kDeleteWelcomeShortcut && (outlook || !welcome))
            shortcutProblems.push_back("\\poutlook.lnk must go first, then \\Welcome.lnk");
        if (step == Step::kCopyFlasher && (outlook || welcome))
            shortcutProblems.push_back("a shortcut is still there when the flasher is copied");
    };
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(shortcutProblems, std::vector<std::string>{});

    EXPECT_EQ(BoxTexts(), std::vector<std::string>{std::string(ui::LoadString(ui::IDS_CHECK_VERSION))});
    EXPECT_EQ(host_->GetTranscript().MessageBoxes().back().caption, "Update complete!");

    // The overall progress, as the page showed it.
    std::vector<std::string> texts;
    for (const ui::TranscriptEntry& e : host_->GetTranscript().Find(EntryKind::ItemText, ui::IDD_PROGRESS, ui::IDC_PROGRESS_TEXT))
        texts.push_back(e.text);
    std::vector<std::string> expected;
    for (const SegmentEntry& segment : kSegmentTable)
        expected.push_back("Copy File..." + std::to_string(segment.overallPercent) + " %");
    EXPECT_EQ(texts, expected);

    std::optional<DialogState> state = host_->LastState(ui::IDD_PROGRESS);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->Find(ui::IDC_STATUS_TITLE)->text, "Copy Complete.\n");
    EXPECT_EQ(state->Find(ui::IDC_STATUS_TEXT)->text, ui::LoadString(ui::IDS_DEVICE_UPGRADING));
    EXPECT_EQ(state->Find(ui::IDC_OVERALL_PROGRESS)->pos, 100);
    for (int id : {ui::IDC_OVERALL_PROGRESS, ui::IDC_FILE_PROGRESS, ui::IDC_PROGRESS_TEXT})
        EXPECT_FALSE(state->Find(id)->visible) << id;
    EXPECT_TRUE(state->HasWindowMenu());

    // The page's cold restart, the worker's warm restart that started the flasher, and the
    // flasher's own restart into the new ROM, which came from the package.
    EXPECT_EQ(Machine().BootCount(), 4u);
    EXPECT_EQ(Machine().RomBuild(), 0x03280401u);
    std::vector<tova::ShellLaunch> launches = Machine().ShellLaunches();
    ASSERT_FALSE(launches.empty());
    EXPECT_TRUE(std::any_of(launches.begin(), launches.end(), [](const tova::ShellLaunch& l) {
        return l.bootCount == 3 && l.kind == tova::ShellLaunch::Kind::kModule &&
               tova::SameName(l.path, u"\\Windows\\StartUp\\Velkor.exe");
    })) << "the warm restart started the flasher";
    // The link dropped at once after the warm restart, yet the worker held on for its
    // 5000 ms before handing over, and then noticed the drop at its first 500 ms poll.
    uint64_t warmResetAt = StepTime(Step::kWarmReset), handOverAt = StepTime(Step::kHandOver);
    ASSERT_NE(handOverAt, 0u);
    EXPECT_GE(handOverAt - warmResetAt, 5000u);
    EXPECT_LE(handOverAt - warmResetAt, 5000u + 500u + 1000u);
    // Completion came from a check of the handheld that came back.
    EXPECT_GE(StepCount(Step::kCheckReturnedRom), 1u);
    EXPECT_GT(StepTime(Step::kCheckReturnedRom), handOverAt);
}

// What goes wrong in a failure case.
enum class Fault {
    kNoServiceLibrary,  // the program folder lacks HARLIX.DLL
    kNoPackage,
    kLinkLostAfterSegments,
    kLinkLostAfterShortcuts,
    kNoFlasher,
    kCorruptSegment,  // the verification on the handheld fails
};

struct FailureCase {
    const char* name;
    Fault fault;
    int messageId;
    bool restart;  // a cold restart after the failure
    Step lastStep;
};

const FailureCase kFailures[] = {
    {"ServiceLibraryCopy", Fault::kNoServiceLibrary, ui::IDS_COPY_INCOMPLETE, false, Step::kShowFailure},
    {"SegmentCopy", Fault::kNoPackage, ui::IDS_COPY_INCOMPLETE, true, Step::kShowFailure},
    {"LinkLostAfterSegments", Fault::kLinkLostAfterSegments, ui::IDS_COPY_INCOMPLETE, false,
     Step::kShowFailure},
    {"LinkLostAfterShortcuts", Fault::kLinkLostAfterShortcuts, ui::IDS_COPY_INCOMPLETE, false,
     Step::kShowFailure},
    {"FlasherCopy", Fault::kNoFlasher, ui::IDS_COPY_INCOMPLETE, true, Step::kShowFailure},
    {"Verification", Fault::kCorruptSegment, ui::IDS_INTEGRITY_FAILED, true, Step::kColdReset},
};

class ProgressFailures : public ProgressRun, public ::testing::WithParamInterface<FailureCase> {
protected:
    void Arrange(Fault fault) {
        switch (fault) {
        case Fault::kNoServiceLibrary: RemoveProgramFile(kServiceLibraryFileName); break;
        case Fault::kNoPackage: RemoveProgramFile("R47_NK_H03280401.img"); break;
        case Fault::kNoFlasher: RemoveProgramFile(kFlasherFileName); break;
        case Fault::kLinkLostAfterSegments: LoseLinkAt(Step::kCheckLinkAfterSegments); break;
        case Fault::kLinkLostAfterShortcuts: LoseLinkAt(Step::kCheckLinkAfterShortcuts); break;
        case Fault::kCorruptSegment: break;
        }
    }

    // Drops the link when the worker reaches `at`, and brings it back while the failure
    // message is up, so that a wrong restart request would still reach the handheld.
    void LoseLinkAt(Step at) {
        onStep = [this, at](Step step) {
            if (step == at) DropLink();
        };
        onBox = [this](const ui::MessageBoxInfo&) {
            Machine().SetCable(true);
            EXPECT_TRUE(WaitFor([] { return g_bConnected.load() == 1; }, kLongWaitMs));
            return uint64_t(0);
        };
    }
};

TEST_P(ProgressFailures, ShowTheirMessageAndRestartColdOnlyWhenTheyShould) {
    const FailureCase& c = GetParam();
    Prepare(true, c.fault == Fault::kCorruptSegment);
    Arrange(c.fault);

    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{std::string(ui::LoadString(c.messageId))});
    EXPECT_EQ(host_->GetTranscript().MessageBoxes().at(0).caption, "Caution");
    EXPECT_TRUE(WaitForUpdateWorkers(kLongWaitMs));
    std::vector<Step> steps = Steps();
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.back(), c.lastStep);

    // Boot 1 is the handheld's own, boot 2 the page's cold restart.
    if (c.restart) {
        EXPECT_TRUE(Machine().WaitUntilBootCount(3, kLongWaitMs));
        EXPECT_FALSE(Machine().LastBootWarm());
    } else {
        EXPECT_EQ(Machine().State(), tova::MachineState::kBooted);
        EXPECT_EQ(Machine().BootCount(), 2u);
    }
}

INSTANTIATE_TEST_SUITE_P(Worker, ProgressFailures, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// Link up throughout (the cold restart cannot be invoked: the handheld has no library yet):
// the bars appear 5 x 1000 ms plus 2000 ms after the page opened.
TEST_F(ProgressRun, BarsAppearSevenSecondsAfterOpeningWhileLinked) {
    tova::SetTimeScale(0.1);
    StartHandheld();
    StartLinkMonitor();
    RemoveProgramFile(kServiceLibraryFileName);  // the worker stops right after showing them
    // The worker starts as the page opens and holds first; its step after showing the bars
    // begins once the page's thread has shown them, and the failure that follows leaves them
    // as they were shown.
    std::atomic<uint64_t> openedAt{0}, shownAt{0};
    update_worker_testing::SetStepHook([&](Step step) {
        if (step == Step::kHold) openedAt = tova::NominalNowMs();
        if (step == Step::kCopyServiceLibrary) shownAt = tova::NominalNowMs();
    });
    ProgressPage page;
    ui::ScriptedDriver driver;
    EXPECT_EQ(RunPage(page, driver), 0);
    ASSERT_NE(openedAt.load(), 0u) << "the worker never started";
    ASSERT_NE(shownAt.load(), 0u) << "the bars were never shown";
    EXPECT_GE(shownAt - openedAt, 7000u);
    EXPECT_LE(shownAt - openedAt, 7000u + 700u);
    std::optional<DialogState> shown = host_->LastState(ui::IDD_PROGRESS);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->Find(ui::IDC_PROGRESS_TEXT)->text, "Copy Files...5%");
    EXPECT_TRUE(shown->Find(ui::IDC_PROGRESS_TEXT)->visible);
    EXPECT_TRUE(shown->Find(ui::IDC_FILE_PROGRESS)->visible);
    EXPECT_TRUE(shown->Find(ui::IDC_OVERALL_PROGRESS)->visible);
    EXPECT_EQ(shown->Find(ui::IDC_OVERALL_PROGRESS)->pos, 3);
}

// The user closes the page while the segments are being verified: the page ends at once,
// its destruction gives the worker 2000 ms and then abandons it; no restart follows, and
// the lock of the remote file calls is free.
TEST_F(ProgressRun, CloseDuringVerificationAbandonsTheWorkerWithoutRestart) {
    Prepare();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    onStep = [released](Step step) {
        if (step == Step::kVerify) released.wait();  // a verification that takes its time
    };
    uint64_t closedAt = 0;
    ProgressPage page;
    LambdaDriver driver;
    driver.onIdle = [&](const DialogState& state) {
        if (!state.HasWindowMenu() || closedAt != 0) return UserAction::None();
        closedAt = tova::NominalNowMs();
        return UserAction::Close();
    };
    EXPECT_EQ(RunPage(page, driver), 0);
    EXPECT_GE(tova::NominalNowMs() - closedAt, kWorkerStopWaitMs);
    ASSERT_NE(page.WorkerContext(), nullptr);
    EXPECT_TRUE(page.WorkerContext()->Abandoned());
    EXPECT_EQ(page.WorkerContext()->m_bStopRequested.load(), 1);

    release.set_value();
    EXPECT_TRUE(WaitForUpdateWorkers(kLongWaitMs));
    EXPECT_EQ(Steps().back(), Step::kVerify) << "nothing after the abandonment";
    EXPECT_TRUE(host_->GetTranscript().MessageBoxes().empty());
    EXPECT_EQ(Machine().BootCount(), 2u);
    EXPECT_EQ(Machine().State(), tova::MachineState::kBooted);

    auto call = std::async(std::launch::async, [] { return RapiDeleteFile(u"\\Temp\\absent"); });
    EXPECT_EQ(call.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "g_csRapi left held";
}


// Only exactly E_FAIL fails the verification. Any other failure of the invocation counts as
// passed: the warm restart and the hand-over follow, never message 133 or a cold restart;
// what the handheld then comes back with decides what the page says.
struct OtherVerificationResult {
    const char* name;
    bool linkLost;  // else the service library is gone from the handheld during the check
    uint32_t bootsAfter;
    const char* box;
};

const OtherVerificationResult kOtherVerificationResults[] = {
    // The library is put back for the warm restart, so the flasher runs.
    {"LibraryMissing", false, 4u,
     "Tap Start->Settings->System Information in your Pocket PC to check your operating system "
     "version."},
    // The warm restart cannot reach the handheld either; it comes back on its old ROM.
    {"LinkLost", true, 2u,
     "The device came back with ROM build 03280301 instead of 03280401.\nThe update did not "
     "take effect. Run the Velkor program again to update the device."},
};

class ProgressOtherVerificationResults
    : public ProgressRun, public ::testing::WithParamInterface<OtherVerificationResult> {};

TEST_P(ProgressOtherVerificationResults, CountAsPassed) {
    const OtherVerificationResult& c = GetParam();
    Prepare();
    awaitFlashingAtHandOver = c.bootsAfter == 4u;  // the flasher runs
    onStep = [this, &c](Step step) {
        if (step == Step::kVerify) {
            if (c.linkLost) DropLink();
            else ASSERT_TRUE(Machine().Store().RemoveFile(u"\\Windows\\HARLIX.DLL"));
        }
        if (step == Step::kWarmReset && !c.linkLost) InstallServiceLibrary();
        if (step == Step::kHandOver && c.linkLost) Machine().SetCable(true);
    };
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{c.box});
    std::vector<Step> steps = Steps();
    EXPECT_EQ(std::count(steps.begin(), steps.end(), Step::kColdReset), 0);
    EXPECT_EQ(StepCount(Step::kWarmReset), 1u);
    EXPECT_EQ(StepCount(Step::kHandOver), 1u);
    EXPECT_EQ(Machine().BootCount(), c.bootsAfter);
}

INSTANTIATE_TEST_SUITE_P(Worker, ProgressOtherVerificationResults, ::testing::ValuesIn(kOtherVerificationResults),
                         [](const auto& info) { return std::string(info.param.name); });

// The user closes the page while IsCheckSumOk runs, and the check answers inside the 2000 ms
// the destruction waits: whatever it answers, no restart is requested and no box shown.
class ProgressCloseDuringVerification : public ProgressRun, public ::testing::WithParamInterface<bool> {};

TEST_P(ProgressCloseDuringVerification, RequestsNoRestartWhateverTheCheckAnswers) {
    bool corrupt = GetParam();
    Prepare(true, corrupt);
    ProgressPage page;
    page.SetPackageBuild(kPackageBuild);
    onStep = [&page](Step step) {
        if (step != Step::kVerify) return;
        // The call is made once the page is being destroyed.
        WaitFor([&page] { return page.WorkerContext()->m_bStopRequested.load() == 1; }, kLongWaitMs);
    };
    LambdaDriver driver;
    bool closed = false;
    driver.onIdle = [&](const DialogState& state) {
        if (closed || !state.HasWindowMenu()) return UserAction::None();
        closed = true;
        // The destruction's 2000 ms then last long enough in real time for the check.
        tova::SetTimeScale(0.5);
        return UserAction::Close();
    };
    EXPECT_EQ(RunPage(page, driver), 0);
    tova::SetTimeScale(kTimeScale);
    EXPECT_TRUE(WaitForUpdateWorkers(kLongWaitMs));
    EXPECT_FALSE(page.WorkerContext()->Abandoned()) << "the check did not answer inside the wait";
    EXPECT_EQ(Steps().back(), Step::kVerify);
    EXPECT_TRUE(host_->GetTranscript().MessageBoxes().empty());
    EXPECT_EQ(Machine().BootCount(), 2u);
    EXPECT_EQ(Machine().State(), tova::MachineState::kBooted);
}

INSTANTIATE_TEST_SUITE_P(Worker, ProgressCloseDuringVerification, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "CheckFails" : "CheckPasses"); });

// A handheld that never drops its link after the warm restart request: the worker keeps
// polling every 500 ms until the user closes the page, then hands over at its next poll and
// ends by itself; nothing else happens.
TEST_F(ProgressRun, HandheldThatNeverDropsTheLinkKeepsTheWorkerPollingUntilClosed) {
    Prepare();
    tova::MachineFaults faults = Machine().Config().faults;
    faults.rebootIgnored = true;
    Machine().SetFaults(faults);
    constexpr uint64_t kUserWaitsMs = 20000;
    uint64_t closedAt = 0;
    ProgressPage page;
    page.SetPackageBuild(kPackageBuild);
    LambdaDriver driver;
    driver.onIdle = [&](const DialogState&) {
        uint64_t warmResetAt = StepTime(Step::kWarmReset);
        if (closedAt != 0 || warmResetAt == 0 || tova::NominalNowMs() - warmResetAt < kUserWaitsMs)
            return UserAction::Wait(100);
        closedAt = tova::NominalNowMs();
        return UserAction::Close();
    };
    EXPECT_EQ(RunPage(page, driver), 0);
    EXPECT_TRUE(WaitForUpdateWorkers(kLongWaitMs));
    uint64_t handOverAt = StepTime(Step::kHandOver);
    ASSERT_NE(handOverAt, 0u) << "the worker never left its wait";
    EXPECT_GE(handOverAt, closedAt) << "handed over while the link was still up";
    EXPECT_LE(handOverAt - closedAt, 500u + 500u) << "not at its next 500 ms poll";
    EXPECT_FALSE(page.WorkerContext()->Abandoned()) << "the worker had to be stopped";
    EXPECT_EQ(Steps().back(), Step::kHandOver);
    EXPECT_TRUE(host_->GetTranscript().MessageBoxes().empty());
    EXPECT_EQ(Machine().BootCount(), 2u) << "the warm restart request did nothing";
    EXPECT_EQ(Machine().State(), tova::MachineState::kBooted);
}

// The handheld comes back with the new ROM but its build cannot be read (the program folder
// has lost the service library that must be copied again): the page keeps trying on its
// timer for 2 minutes, then says the update could not be confirmed, never that it is done.
TEST_F(ProgressRun, ReturnedHandheldWhoseBuildCannotBeReadIsNeverCalledUpdated) {
    Prepare();
    awaitFlashingAtHandOver = true;
    onStep = [this](Step step) {
        if (step == Step::kHandOver) RemoveProgramFile(kServiceLibraryFileName);
    };
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{std::string(ui::LoadString(ui::IDS_RETURN_UNCONFIRMED))});
    EXPECT_EQ(host_->GetTranscript().MessageBoxes().at(0).caption, "Caution");
    EXPECT_EQ(Machine().RomBuild(), 0x03280401u) << "the flashing itself went well";
    // Tried on every tick of the 2 minutes (a tick is 2000 ms).
    EXPECT_GE(StepCount(Step::kCheckReturnedRom), 30u);
    EXPECT_GE(tova::NominalNowMs() - StepTime(Step::kCheckReturnedRom), 2u * 60u * 1000u);
}

}  // namespace
}  // namespace wizard_test
