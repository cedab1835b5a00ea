// The window of `tova-emu view`, drawn offscreen in this process against a handheld that
// `tova-emu run` runs in another one, reached through its control channel as `view` does.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <set>
#include <thread>

#include "control_channel.h"
#include "flasher_handheld.h"
#include "qt/view_window_qt.h"
#include "qt_test_support.h"
#include "view_model.h"

namespace tova::emu {
namespace {

using testing::BannerColour;
using testing::FlasherHandheld;
using testing::ScratchFolder;
using testing::WaitFor;

const auto* const kApplication = ::testing::AddGlobalTestEnvironment(
    new ui::qt::test_support::QtApplication("tova_emu_view_test"));

class ViewWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        handheld_.Start();
        view_ = std::make_unique<HandheldView>(
            handheld_.State(), [this](const std::vector<std::string>& words) {
                ++requests_;
                if (words[0] != kStatusRequest && words[0] != kFrameRequest)
                    actions_.push_back(words);
                return SendControl(handheld_.State(), words, {size_t(1) << 20, 5000});
            });
        widget_ = std::make_unique<qt::HandheldViewWidget>(*view_);
        widget_->show();
    }
    void TearDown() override {
        widget_.reset();
        view_.reset();
    }

    // Polls as the window's timer does until `done` holds.
    template <typename Done>
    bool PollUntil(Done done) {
        return WaitFor([&] {
            widget_->PollOnce();
            QApplication::processEvents();
            return done();
        });
    }

    QString Text(const char* name) {
        auto* label = widget_->findChild<QLabel*>(name);
        return label ? label->text() : QString("(no label %1)").arg(name);
    }

    ScratchFolder scratch_;
    FlasherHandheld handheld_{scratch_.Path()};
    std::unique_ptr<HandheldView> view_;
    std::unique_ptr<qt::HandheldViewWidget> widget_;
    int requests_ = 0;
    std::vector<std::vector<std::string>> actions_;
};

TEST_F(ViewWindowTest, ShowsTheBannerPixelsAndTheStateStripOfARunningHandheld) {
    handheld_.StartFlasher();
    ASSERT_TRUE(PollUntil([&] { return BannerColour(view_->Frame()) != 0xFFFF; }))
        << "the view never showed the banner alone";
    std::vector<uint16_t> frame = view_->Frame();
    uint16_t colour = BannerColour(frame);

    // The window shows that frame, each handheld pixel as a 2 x 2 block, exactly.
    QImage grab = widget_->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QPoint origin = widget_->ScreenOrigin();
    ASSERT_GE(grab.width(), origin.x() + HandheldView::kPictureWidth);
    ASSERT_GE(grab.height(), origin.y() + HandheldView::kPictureHeight);
    int bannerPixels = 0, mismatches = 0;
    for (int y = 0; y < 320; ++y)
        for (int x = 0; x < 240; ++x) {
            auto rgb = hw::Rgb565ToRgb888(frame[size_t(y) * 240 + x]);
            QRgb want = qRgb(rgb[0], rgb[1], rgb[2]);
            for (int d = 0; d < 4; ++d)
                if ((grab.pixel(origin.x() + 2 * x + d % 2, origin.y() + 2 * y + d / 2) &
                     0xFFFFFF) != (want & 0xFFFFFF))
                    ++mismatches;
            if (frame[size_t(y) * 240 + x] == colour) ++bannerPixels;
        }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(bannerPixels, 200);

    // The state strip, as a person reads it.
    EXPECT_EQ(Text("value-power"), "on");
    EXPECT_EQ(Text("value-system"), "booted, ROM 05010100");
    EXPECT_EQ(Text("value-boots"), "2 (last warm)");
    EXPECT_EQ(Text("value-ac"), "plugged in");
    EXPECT_EQ(Text("value-battery"), "100 %");
    EXPECT_EQ(Text("value-cable"), "in");
    EXPECT_TRUE(Text("value-link").startsWith("up on 127.0.0.1:"))
        << Text("value-link").toStdString();
    EXPECT_EQ(Text("flash-text"), "flash idle");
    EXPECT_EQ(widget_->findChild<QPushButton*>("button-cable")->text(), "Pull the cable out");
    EXPECT_TRUE(actions_.empty()) << "watching sends nothing but status and frame requests";

    // Closing the window leaves the handheld running.
    widget_->close();
    widget_.reset();
    QApplication::processEvents();
    EXPECT_TRUE(handheld_.RunsBooted());
}

TEST_F(ViewWindowTest, FlashLightShowsTheFlasherWritingAndButtonsChangeTheHandheld) {
    handheld_.StartFlasher(true);
    std::set<std::string> lights;
    ASSERT_TRUE(PollUntil([&] {
        lights.insert(view_->FlashLight().text);
        return lights.count("both chips erasing at 0xA0DC0000") > 0;
    })) << "lights seen: "
        << lights.size();
    EXPECT_NE(Text("flash-text").toStdString().find("erasing at 0xA0DC0000"), std::string::npos);

    // The cable button pulls the cable, and the strip follows.
    widget_->findChild<QPushButton*>("button-cable")->click();
    EXPECT_EQ(actions_.back(), (std::vector<std::string>{"set", "cable", "off"}));
    EXPECT_EQ(Text("value-cable"), "out");
    EXPECT_EQ(Text("message"), "cable pulled out");
    EXPECT_EQ(widget_->findChild<QPushButton*>("button-cable")->text(), "Plug the cable in");
    EXPECT_TRUE(PollUntil([&] { return Text("value-link") == "down"; }));

    // The power cut asks first: declined, nothing is sent.
    QString asked;
    widget_->SetConfirm([&](const QString&, const QString& question) {
        asked = question;
        return false;
    });
    size_t before = actions_.size();
    widget_->findChild<QPushButton*>("button-power-cut")->click();
    EXPECT_TRUE(asked.startsWith("Cut the handheld's power now?"));
    EXPECT_EQ(actions_.size(), before);
    EXPECT_TRUE(handheld_.RunsBooted());
}

TEST_F(ViewWindowTest, WindowRunClosesByItselfAndLeavesTheHandheldRunning) {
    widget_.reset();
    std::string error;
    std::unique_ptr<ViewWindow> window = qt::OpenQtViewWindow(&error);
    ASSERT_TRUE(window) << error;
    ViewWindowOptions options;
    options.closeAfterMs = 300;
    options.grab = scratch_.Path() / "window.png";
    window->Run(*view_, options);  // returns once closed
    EXPECT_GT(requests_, 2) << "it polled while it showed";
    EXPECT_TRUE(actions_.empty());
    QImage grab(QString::fromStdString(options.grab.string()));
    EXPECT_GE(grab.width(), HandheldView::kPictureWidth);
    EXPECT_GE(grab.height(), HandheldView::kPictureHeight);
    EXPECT_TRUE(handheld_.RunsBooted());

    // Close() before Run: the window does not stay.
    window->Close();
    options.closeAfterMs = -1;
    window->Run(*view_, options);
}

TEST_F(ViewWindowTest, ClosingWhileThePowerCutIsAskedCutsNothing) {
    widget_.reset();
    std::string error;
    std::unique_ptr<ViewWindow> window = qt::OpenQtViewWindow(&error);
    ASSERT_TRUE(window) << error;
    std::thread closer;
    bool asked = false;
    QTimer::singleShot(200, [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* cut = top->findChild<QPushButton*>("button-power-cut");
            if (!cut || !cut->isEnabled()) continue;
            // Ctrl-C comes while the question is open (the click below waits in it).
            closer = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                window->Close();
            });
            asked = true;
            cut->click();
            return;
        }
    });
    window->Run(*view_, {});
    if (closer.joinable()) closer.join();
    EXPECT_TRUE(asked);
    EXPECT_TRUE(actions_.empty()) << "the question was closed unanswered";
    EXPECT_TRUE(handheld_.RunsBooted());
}

}  // namespace
}  // namespace tova::emu
