// The rules every host's windows follow, checked once on the model they share: what a
// change does to the state, what it logs, and what the host's mirror is told.
#include <gtest/gtest.h>

#include <vector>

#include "platform/ui/dialog_model.h"

namespace ui {
namespace {

constexpr int kBar = 10;
constexpr int kLabel = 11;

const ControlTemplate kControls[] = {
    {kBar, ControlKind::ProgressBar, "", {0, 0, 100, 10}},
    {kLabel, ControlKind::StaticText, "Ready", {0, 20, 100, 10}, false, false, true},
};
const DialogTemplate kDialog{77, "Caption", 200, 100, "System", 8, WS_CAPTION, 0, kControls};

struct MirrorLog final : DialogModel::Mirror {
    std::vector<ControlAspect> aspects;
    std::vector<int> positions;  // the bar's position at each progress change
    void ControlChanged(const ControlState& control, ControlAspect aspect) override {
        aspects.push_back(aspect);
        if (aspect == ControlAspect::Progress) positions.push_back(control.pos);
    }
};

struct ModelFixture {
    std::vector<TranscriptEntry> entries;
    MirrorLog mirror;
    DialogModel model{kDialog, 5, [this](TranscriptEntry e) { entries.push_back(std::move(e)); }};
    ModelFixture() { model.SetMirror(&mirror); }
    const ControlState& Bar() const { return *model.Find(kBar); }
};

struct ProgressCase {
    const char* name;
    int rangeMin, rangeMax;  // set first
    int pos;                 // then this position
    int expectedPos;
    size_t expectedEntries;  // range (when it changed) and position (when it moved)
};

TEST(DialogModel, ProgressPositionStaysInsideTheRange) {
    const ProgressCase cases[] = {
        {"inside", 0, 100, 40, 40, 1},
        {"above", 0, 12, 30, 12, 2},
        {"below", 5, 50, -3, 5, 2},  // the new range already pulled 0 up to 5
        {"reversed range", 100, 0, 150, 100, 2},
        {"reversed, below", 100, 0, -1, 0, 1},
        {"unchanged position logs nothing", 0, 100, 0, 0, 0},
    };
    for (const ProgressCase& c : cases) {
        SCOPED_TRACE(c.name);
        ModelFixture f;
        ASSERT_TRUE(f.model.SetProgressRange(kBar, c.rangeMin, c.rangeMax));
        ASSERT_TRUE(f.model.SetProgressPos(kBar, c.pos));
        EXPECT_EQ(f.Bar().pos, c.expectedPos);
        EXPECT_EQ(f.Bar().rangeMin, c.rangeMin);
        EXPECT_EQ(f.Bar().rangeMax, c.rangeMax);
        EXPECT_EQ(f.entries.size(), c.expectedEntries);
        if (!f.mirror.positions.empty()) {
            EXPECT_EQ(f.mirror.positions.back(), c.expectedPos);
        }
        EXPECT_EQ(f.mirror.aspects.empty(), c.expectedEntries == 0);
    }
}

TEST(DialogModel, ANarrowerRangePullsThePositionBackAndLogsBoth) {
    ModelFixture f;
    f.model.SetProgressPos(kBar, 80);
    f.model.SetProgressRange(kBar, 0, 12);
    EXPECT_EQ(f.Bar().pos, 12);
    ASSERT_EQ(f.entries.size(), 3u);
    EXPECT_EQ(f.entries[1].kind, EntryKind::ProgressRange);
    EXPECT_EQ(f.entries[2].kind, EntryKind::ProgressPos);
    EXPECT_EQ(f.entries[2].value, 12);
    // One change of the bar reaches the mirror once, with the final position.
    EXPECT_EQ(f.mirror.positions, (std::vector<int>{80, 12}));
}

TEST(DialogModel, RepeatedChangesAreLoggedAndMirroredOnce) {
    ModelFixture f;
    for (int i = 0; i < 2; ++i) {
        f.model.SetItemText(kLabel, "Done");
        f.model.ShowItem(kLabel, false);
        f.model.EnableItem(kLabel, false);
        f.model.SetItemTextColour(kLabel, CLR_DEFAULT);
        f.model.ModifyStyle(0, WS_SYSMENU);
        f.model.SetIcon(3);
    }
    const ControlState& label = *f.model.Find(kLabel);
    EXPECT_EQ(label.text, "Done");
    EXPECT_FALSE(label.visible);
    EXPECT_FALSE(label.enabled);
    EXPECT_EQ(label.textColour, CLR_DEFAULT);
    EXPECT_TRUE(f.model.State().HasWindowMenu());
    EXPECT_EQ(f.entries.size(), 6u);
    EXPECT_EQ(f.mirror.aspects, (std::vector<ControlAspect>{ControlAspect::Text, ControlAspect::Visibility,
                                                             ControlAspect::Enabled, ControlAspect::Colour}));
    for (const TranscriptEntry& e : f.entries) EXPECT_EQ(e.page, 77);
}

TEST(DialogModel, AMissingControlIsReportedAndChangesNothing) {
    ModelFixture f;
    const DialogState before = f.model.State();
    EXPECT_FALSE(f.model.SetItemText(99, "x"));
    EXPECT_FALSE(f.model.ShowItem(99, false));
    EXPECT_FALSE(f.model.SetProgressPos(99, 3));
    ASSERT_EQ(f.entries.size(), 3u);
    for (const TranscriptEntry& e : f.entries) {
        EXPECT_EQ(e.kind, EntryKind::Error);
        EXPECT_EQ(e.control, 99);
    }
    EXPECT_EQ(f.model.State().controls.size(), before.controls.size());
    EXPECT_TRUE(f.mirror.aspects.empty());
}

TEST(DialogModel, TimersAreKeptByIdAndKillingAStoppedOneFails) {
    ModelFixture f;
    f.model.SetTimer(1, 500);
    f.model.SetTimer(1, 250);  // a restart with the new period
    EXPECT_EQ(f.model.State().timers, (std::map<UINT, UINT>{{1, 250}}));
    EXPECT_TRUE(f.model.KillTimer(1));
    EXPECT_FALSE(f.model.KillTimer(1));
    EXPECT_TRUE(f.model.State().timers.empty());
    EXPECT_EQ(f.entries.size(), 3u);
}

}  // namespace
}  // namespace ui
