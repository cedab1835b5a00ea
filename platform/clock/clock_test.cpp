#include "platform/clock/clock.h"

#include <gtest/gtest.h>

namespace {

TEST(ScaledClock, DurationsShrinkByTheScale) {
    tova::SetTimeScale(0.01);
    EXPECT_EQ(tova::ScaledMs(2000), std::chrono::milliseconds(20));
    tova::SetTimeScale(0);
    EXPECT_EQ(tova::ScaledMs(2000).count(), 0);
    tova::SetTimeScale(1);
    EXPECT_EQ(tova::ScaledMs(5), std::chrono::milliseconds(5));
}

TEST(ScaledClock, NegativeScaleIsRefused) {
    tova::SetTimeScale(0.5);
    tova::SetTimeScale(-1);
    EXPECT_DOUBLE_EQ(tova::TimeScale(), 0.5);
    tova::SetTimeScale(1);
}

TEST(ScaledClock, NominalTimeRunsFasterAtSmallScale) {
    tova::SetTimeScale(0.001);
    uint64_t before = tova::NominalNowMs();
    tova::ScaledSleep(2000);  // 2 ms of real time
    EXPECT_GE(tova::NominalNowMs() - before, 2000u);
    tova::SetTimeScale(1);
}

}  // namespace
