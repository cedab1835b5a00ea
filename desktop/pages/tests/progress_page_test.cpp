// The progress page and its update worker: the page's handling of the worker's messages,
// and the worker's whole run and failure paths against an emulated handheld.
#include <gtest/gtest.h>

#include <future>
#include <string>

#include "desktop/link.h"
#include "desktop/model_flag.h"
#include "desktop/rapi_calls.h"
#include "desktop/transfer.h"
#include "desktop/update_messages.h"
#include "pages/progress_page.h"
#include "pages/update_worker.h"
#include "pages/update_worker_testing.h"
#include "platform/clock.h"
#include "shared/segment_table.h"
#include "tova/object_store.h"
#include "ui/dialog_host.h"
#include "ui/resources.h"
#include "ui/string_table.h"
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

// Posts the table's messages one at a time, checking the page after each, then closes it.
TEST_F(WizardTest, ProgressMessagesSetTextAndBars) {
    update_worker_testing::SetThreadCreationFails(true);
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
        if (next == std::size(kProgressMessages)) return UserAction::Close();
        page.Host()->PostMessage(kProgressMessages[next].message, 0, kProgressMessages[next].lParam);
        waiting = true;
        return UserAction::None();
    };
    EXPECT_EQ(RunPage(page, driver), 0);
    EXPECT_EQ(problems, std::vector<std::string>{});
    EXPECT_EQ(next, std::size(kProgressMessages));
}

TEST_F(WizardTest, ProgressPageOpensWithItsBarsHiddenAtThreeAndZero) {
    update_worker_testing::SetThreadCreationFails(true);
    ProgressPage page;
    std::optional<DialogState> opened;
    LambdaDriver driver;
    driver.onIdle = [&](const DialogState& state) {
        if (!opened) opened = state;
        return UserAction::Close();
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

// Without a worker nothing would end the page: it gains its close box and says so.
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

// The reconnect timer: ticks of other ids, and ticks while the link is down, do nothing.
TEST_F(WizardTest, ProgressReconnectTimerIgnoresOtherIdsAndWaitsForTheLink) {
    update_worker_testing::SetThreadCreationFails(true);
    ProgressPage page;
    int step = 0;
    std::vector<std::string> problems;
    LambdaDriver driver;
    driver.onIdle = [&](const DialogState& state) {
        auto post = [&](ui::UINT m, ui::WPARAM w) { page.Host()->PostMessage(m, w, 0); };
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
            if (page.ReconnectTimer() != IDT_RECONNECT || state.timers.count(IDT_RECONNECT) == 0)
                problems.push_back("a foreign tick or a tick without link stopped the timer");
            if (!host_->GetTranscript().Find(EntryKind::MessageBox, ui::IDD_PROGRESS).empty() &&
                host_->GetTranscript().MessageBoxes().back().caption == "Update complete!")
                problems.push_back("completion reported too early");
            g_bConnected = 1;
            post(ui::WM_TIMER, IDT_RECONNECT);
            break;
        default: break;
        }
        return UserAction::None();
    };
    EXPECT_EQ(RunPage(page, driver), 0);
    EXPECT_EQ(problems, std::vector<std::string>{});
    EXPECT_EQ(page.ReconnectTimer(), 0u);
    std::vector<ui::MessageBoxInfo> boxes = host_->GetTranscript().MessageBoxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text, ui::LoadString(ui::IDS_CHECK_VERSION));
    EXPECT_EQ(boxes.back().caption, "Update complete!");
    EXPECT_EQ(boxes.back().ownerTemplateId, ui::IDD_PROGRESS);
    EXPECT_TRUE(host_->LastState(ui::IDD_PROGRESS)->timers.empty());
}

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
            }
            if (onStep) onStep(step);
        });
    }
    std::vector<Step> Steps() {
        std::lock_guard lock(stepsMutex_);
        return steps_;
    }
    // Runs the page with a user who answers each message box at once.
    int Run() {
        ProgressPage page;
        ui::ScriptedDriver driver;
        if (onBox) driver.SetMessageBoxHook(onBox);
        return RunPage(page, driver);
    }
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
};

TEST_F(ProgressRun, WholeUpdateCopiesEverythingRestartsWarmAndReportsCompletion) {
    Prepare();
    EXPECT_EQ(Run(), 0);

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
    EXPECT_EQ(Steps().back(), Step::kHandOver);
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
    uint64_t openedAt = 0, shownAt = 0;
    std::optional<DialogState> shown;
    ProgressPage page;
    LambdaDriver driver;
    driver.onIdle = [&](const DialogState& state) {
        if (openedAt == 0) openedAt = tova::NominalNowMs();
        if (!shown && state.Find(ui::IDC_OVERALL_PROGRESS)->visible) {
            shownAt = tova::NominalNowMs();
            shown = state;
        }
        return UserAction::None();
    };
    EXPECT_EQ(RunPage(page, driver), 0);
    ASSERT_TRUE(shown);
    EXPECT_GE(shownAt - openedAt, 7000u);
    EXPECT_LE(shownAt - openedAt, 7000u + 700u);
    EXPECT_EQ(shown->Find(ui::IDC_PROGRESS_TEXT)->text, "Copy Files...5%");
    EXPECT_TRUE(shown->Find(ui::IDC_PROGRESS_TEXT)->visible);
    EXPECT_TRUE(shown->Find(ui::IDC_FILE_PROGRESS)->visible);
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

}  // namespace
}  // namespace wizard_test
