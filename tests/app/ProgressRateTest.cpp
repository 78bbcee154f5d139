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

}  // namespace
}  // namespace kestrum
