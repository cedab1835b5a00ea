// `tova-emu view` and `tova-emu run --window` as a user runs them: separate processes, the
// window drawn offscreen and grabbed to a file, against a handheld showing the flasher.
#include <gtest/gtest.h>

#include <QImage>
#include <csignal>

#include "flasher_handheld.h"

namespace tova::testing {
namespace {

namespace fs = std::filesystem;
using child::Outcome;

const child::Environment kOffscreen{{"QT_QPA_PLATFORM=offscreen"}, {"DISPLAY", "WAYLAND_DISPLAY"}};
const child::Environment kNoDisplay{{}, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}};

// The banner in a grab of the window: some 300 handheld pixels of one of its colours, each
// 2 x 2 there, all within the 30 window rows of its one text line (the progress lines that
// follow it, in the same red, fill many lines).
bool ShowsBanner(const fs::path& grab) {
    QImage image(QString::fromStdString(grab.string()));
    if (image.isNull()) return false;
    for (QRgb colour : {qRgb(0x84, 0x10, 0x00), qRgb(0x08, 0x82, 0x63)}) {  // 0x8080, 0x0C0C
        int n = 0, top = image.height(), bottom = -1;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) {
                    ++n;
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
        if (n > 4 * 200 && bottom - top < 2 * 15) return true;
    }
    return false;
}

class ViewCli : public ::testing::Test {
  protected:
    Outcome Run(const std::vector<std::string>& args, const child::Environment& env = kOffscreen) {
        return handheld_.Program().Run(args, env);
    }
    fs::path Grab() const { return scratch_.Path() / "view.png"; }

    ScratchFolder scratch_;
    FlasherHandheld handheld_{scratch_.Path()};
};

TEST_F(ViewCli, WithoutADisplaySaysSoAndExitsTwo) {
    ASSERT_EQ(Run({"create", handheld_.State()}).exitCode, 0);
    Outcome o = Run({"view", handheld_.State()}, kNoDisplay);
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_NE(o.err.find("tova-emu: no display to show the window on"), std::string::npos) << o.err;
    EXPECT_EQ(o.out, "");

    // A platform Qt cannot open is no display either: said the same way, not an abort.
    o = Run({"view", handheld_.State()}, {{"DISPLAY=:97", "QT_QPA_PLATFORM=no-such-platform"}, {}});
    EXPECT_EQ(o.exitCode, 2) << o.err;
    EXPECT_NE(o.err.find("tova-emu: no display: the window system cannot be opened"),
              std::string::npos)
        << o.err;

    // run --window without a display starts nothing.
    o = Run({"run", handheld_.State(), "--link-port", "0", "--window"}, kNoDisplay);
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_NE(o.err.find("no display"), std::string::npos) << o.err;
    EXPECT_EQ(o.out.find("link endpoint"), std::string::npos) << o.out;
    EXPECT_NE(Run({"info", handheld_.State()}).out.find("boots:        0"), std::string::npos);
}

TEST_F(ViewCli, RefusesBadWordsAndAFolderWithoutAHandheld) {
    Outcome o = Run({"view", (scratch_.Path() / "nothing").string()});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_NE(o.err.find("no handheld in"), std::string::npos) << o.err;
    EXPECT_EQ(Run({"view"}).exitCode, 2);
    EXPECT_EQ(Run({"view", handheld_.State(), "--zoom", "3"}).exitCode, 2);
    EXPECT_EQ(Run({"view", handheld_.State(), "--close-after", "soon"}).exitCode, 2);
    o = Run({"run", handheld_.State(), "--grab", "x.png"});
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_NE(o.err.find("go with --window"), std::string::npos) << o.err;
}

TEST_F(ViewCli, ShowsTheRunningHandheldsBannerAndClosingLeavesItRunning) {
    handheld_.Start();
    auto view = handheld_.Program().Start({"view", handheld_.State(), "--grab", Grab().string()},
                                          "view", kOffscreen);
    handheld_.StartFlasher();
    EXPECT_TRUE(WaitFor([&] { return ShowsBanner(Grab()); })) << handheld_.Program().Output("view");
    EXPECT_TRUE(view->Running());

    view->Signal(SIGTERM);  // closes the window, as its close box does
    Outcome end = TovaEmuProgram::Finish(*view);
    EXPECT_EQ(end.exitCode, 0) << end.err;
    EXPECT_EQ(end.err, "") << "nothing but the window";
    EXPECT_TRUE(handheld_.RunsBooted());
}

TEST_F(ViewCli, RunWithAWindowKeepsRunningOnceItIsClosed) {
    ASSERT_EQ(Run({"create", handheld_.State()}).exitCode, 0);
    auto run = handheld_.Program().Start(
        {"run", handheld_.State(), "--host-modules", "--link-port", "0", "--time-scale", kFlasherTimeScale,
         "--window", "--close-after", "1000", "--grab", Grab().string()},
        "run-window", kOffscreen);
    EXPECT_TRUE(WaitFor([&] {
        return handheld_.Program()
                   .Output("run-window")
                   .find("the window is closed; the handheld keeps running") != std::string::npos;
    })) << handheld_.Program().Output("run-window");
    EXPECT_TRUE(run->Running());
    EXPECT_TRUE(handheld_.RunsBooted());
    QImage grab(QString::fromStdString(Grab().string()));
    EXPECT_GE(grab.width(), 480);

    run->Signal(SIGINT);
    Outcome end = TovaEmuProgram::Finish(*run);
    EXPECT_EQ(end.exitCode, 0) << end.err;
    EXPECT_NE(end.out.find("state saved in"), std::string::npos) << end.out;
}

TEST_F(ViewCli, RunWithAWindowStopsOnCtrlCWhileTheWindowShows) {
    ASSERT_EQ(Run({"create", handheld_.State()}).exitCode, 0);
    auto run = handheld_.Program().Start({"run", handheld_.State(), "--host-modules", "--link-port", "0",
                                          "--time-scale", kFlasherTimeScale, "--window"},
                                         "run-window", kOffscreen);
    ASSERT_TRUE(handheld_.Program().WaitForInfo(handheld_.State(), "(up)"))
        << handheld_.Program().Output("run-window");
    run->Signal(SIGINT);
    Outcome end = TovaEmuProgram::Finish(*run);
    EXPECT_EQ(end.exitCode, 0) << end.err;
    EXPECT_NE(end.out.find("state saved in"), std::string::npos) << end.out;
    EXPECT_EQ(end.out.find("the window is closed"), std::string::npos) << end.out;
}

}  // namespace
}  // namespace tova::testing
