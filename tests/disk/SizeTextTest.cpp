#include <gtest/gtest.h>

#include "disk/SizeText.h"

TEST(SizeTextTest, PicksTheLargestUnitReached) {
    using kestrum::sizeText;
    EXPECT_EQ(sizeText(0), "0");
    EXPECT_EQ(sizeText(1), "0.0 KB");
    EXPECT_EQ(sizeText(1536), "1.5 KB");
    EXPECT_EQ(sizeText(1048575), "1024.0 KB");
    EXPECT_EQ(sizeText(1048576), "1.0 MB");
    EXPECT_EQ(sizeText(1073741823), "1024.0 MB");
    EXPECT_EQ(sizeText(1073741824), "1.0 GB");
    EXPECT_EQ(sizeText(4000787030016ULL), "3726.0 GB");
}
