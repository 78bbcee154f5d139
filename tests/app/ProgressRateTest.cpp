#include <gtest/gtest.h>

#include "app/ProgressRate.h"

namespace kestrum {
namespace {

using namespace std::chrono_literals;

TEST(ProgressRate, SpeedAndTimeLeftCountFromTheRangesStart) {
    const auto t0 = ProgressRate::Clock::time_point{};
    // 2048 sectors (1 MiB) of 10240 done in 2 s, counted from sector 1000.
    ProgressRate rate(1000, 11240, t0);
    EXPECT_DOUBLE_EQ(rate.bytesPerSecond(3048, t0 + 2s), 512.0 * 1024);
    EXPECT_DOUBLE_EQ(rate.secondsLeft(3048, t0 + 2s), 8.0);
    EXPECT_EQ(rate.text(3048, t0 + 2s), "20%  -  0.5 MB/s  -  0:00:08 left");
    EXPECT_EQ(rate.text(11240, t0 + 10s), "100%  -  0.5 MB/s  -  0:00:00 left");
}

TEST(ProgressRate, UnknownUntilThereIsASpeed) {
    const auto t0 = ProgressRate::Clock::time_point{};
    ProgressRate rate(0, 100, t0);
    EXPECT_EQ(rate.text(0, t0 + 5s), "0%  -  0.0 MB/s  -  --:--:-- left");
    EXPECT_LT(rate.secondsLeft(50, t0 + 100ms), 0);
    EXPECT_EQ(clockText(90061), "25:01:01");  // hours are not wrapped at a day
}

TEST(ProgressRate, TimeWaitingForTheUsersAnswerIsLeftOut) {
    // 1 MiB read in the 4 s before a question; the question then stands 4 s.
    const auto now = ProgressRate::Clock::now();
    ProgressRate rate(0, 4096, now - 4s);
    {
        const UserWait asking;
        EXPECT_NEAR(rate.bytesPerSecond(2048, now + 4s), 256.0 * 1024, 256.0 * 1024 / 100);
        EXPECT_NEAR(rate.secondsLeft(2048, now + 4s), 4.0, 0.04);
    }
    // Answered: the wait stays left out, and the run's own time goes on.
    const auto later = ProgressRate::Clock::now();
    EXPECT_NEAR(rate.bytesPerSecond(2048, later + 4s), 128.0 * 1024, 128.0 * 1024 / 100);
}

}  // namespace
}  // namespace kestrum
